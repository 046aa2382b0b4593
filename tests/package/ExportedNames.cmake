# Builds tests/package/names against the built module with the compiler's own
# command line (-lZelbridge, as application.md shows it), then runs it.
#
# cmake -DCOMPILER=... -DSOURCE_DIR=... -DLIBRARY_DIR=... -DWORK_DIR=... -DOUTPUT=...
#       [-DFLAGS=a|b] [-DLAUNCHER=a|b] -DDRIVER=... -DPREFIX_NAME=... -P ExportedNames.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(STRINGS ${SOURCE_DIR}/include/zelbridge.h declarations REGEX "ZELBRIDGE_CALL [A-Za-z0-9_]+\\(")
set(functions "")
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "ZELBRIDGE_CALL ([A-Za-z0-9_]+)\\(" _ "${declaration}")
  string(APPEND functions "HEADER_FUNCTION(${CMAKE_MATCH_1})\n")
endforeach()
file(WRITE ${WORK_DIR}/header_functions.inc "${functions}")

string(REPLACE "|" ";" flags "${FLAGS}")
string(REPLACE "|" ";" launcher "${LAUNCHER}")
execute_process(COMMAND ${COMPILER} -std=c99 -Wall -Wextra -Werror ${flags} -I${SOURCE_DIR}/include -I${WORK_DIR}
    ${SOURCE_DIR}/tests/package/names/main.c -L${LIBRARY_DIR} -lZelbridge -o ${OUTPUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${COMPILER} ... -lZelbridge failed:\n${output}")
endif()
execute_process(COMMAND ${launcher} ${OUTPUT} ${DRIVER} ${PREFIX_NAME} RESULT_VARIABLE status
  OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the program failed (${status}): ${errors}")
endif()
