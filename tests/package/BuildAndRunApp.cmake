# Installs the build into a fresh prefix (or takes the package installed in
# INSTALLED), builds the application in tests/package/app against it with
# find_package, and runs it.
#
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... [-DTOOLCHAIN=... -DARCH=...]
#       [-DLAUNCHER=...] [-DAPP_FLAGS=...] [-DINSTALLED=...] -DDRIVER=... -DPREFIX_NAME=... -DCOMMAND=...
#       -P BuildAndRunApp.cmake
file(REMOVE_RECURSE ${WORK_DIR})
if(INSTALLED)
  set(prefix ${INSTALLED})
else()
  set(prefix ${WORK_DIR}/prefix)
endif()

macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${output}")
  endif()
endmacro()

if(NOT INSTALLED)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
set(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/app -B ${WORK_DIR}/app -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
if(APP_FLAGS)
  list(APPEND configure -DCMAKE_C_FLAGS=${APP_FLAGS} -DCMAKE_EXE_LINKER_FLAGS=${APP_FLAGS})
endif()
if(TOOLCHAIN)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DZELBRIDGE_MINGW_ARCH=${ARCH})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/app)

# The application goes next to the DLL, where Windows looks for it.
if(TOOLCHAIN)
  file(COPY ${WORK_DIR}/app/package_app.exe DESTINATION ${prefix}/bin)
  set(app ${prefix}/bin/package_app.exe)
else()
  set(app ${WORK_DIR}/app/package_app)
endif()
string(REPLACE "|" ";" launcher "${LAUNCHER}")
execute_process(COMMAND ${launcher} ${app} ${DRIVER} ${PREFIX_NAME} ${COMMAND} RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}")
if(INSTALLED AND TOOLCHAIN)
  # Not the package's file: its uninstall would leave it behind.
  file(REMOVE ${app})
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the application failed (${status}): ${output}${errors}")
endif()
