# Rewrites a test library's export list as a changed list would be written,
# builds the library alone and reads its exports: the new name must be there;
# then restores the list, builds again and the name must be gone.
#
# cmake -DBUILD_DIR=... -DTARGET=... -DLIST=... -DLIBRARY=... -DREADER=a|b -DNAME=... -P ExportListRelinks.cmake
string(REPLACE "|" ";" reader "${READER}")

function(build_and_read_exports out)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET} RESULT_VARIABLE status
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "building ${TARGET} failed:\n${output}")
  endif()
  execute_process(COMMAND ${reader} ${LIBRARY} OUTPUT_VARIABLE exports COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${exports}" PARENT_SCOPE)
endfunction()

# First up to date, so that no regeneration of the build rewrites the list
# under the test.
build_and_read_exports(_)
file(READ ${LIST} original)
# Exported on Linux through a version script ("global: A;"), on Windows
# through a module definition file ("EXPORTS\n  A").
string(REGEX REPLACE "ProbeListed" "ProbeListed;\n    ${NAME}" changed "${original}")
if(LIST MATCHES "\\.def$")
  string(REGEX REPLACE "ProbeListed" "ProbeListed\n  ${NAME}" changed "${original}")
endif()
file(WRITE ${LIST} "${changed}")
build_and_read_exports(with_name)
file(WRITE ${LIST} "${original}")
build_and_read_exports(without_name)
if(NOT with_name MATCHES "${NAME}")
  message(FATAL_ERROR "the library was not relinked when its export list gained ${NAME}:\n${with_name}")
endif()
if(without_name MATCHES "${NAME}")
  message(FATAL_ERROR "the library was not relinked when its export list lost ${NAME}:\n${without_name}")
endif()
message("relinked both ways: ${NAME} exported only while listed")
