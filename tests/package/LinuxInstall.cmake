# The Linux build for applications, as the README has a developer make and
# install it: the linux preset in a folder of its own, installed into a fresh
# prefix; then a C program built against the installed package (with CMake
# and with pkg-config), the README's
# simulator session and zelbridge --version, all run from the prefix.
#
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -P LinuxInstall.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

foreach(step "-S;${SOURCE_DIR};--preset;linux;-B;${WORK_DIR}/build" "--build;${WORK_DIR}/build"
    "--install;${WORK_DIR}/build;--prefix;${prefix}")
  execute_process(COMMAND ${CMAKE_COMMAND} ${step} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# No sanitizer runtime is wanted by anything installed.
execute_process(COMMAND ${CMAKE_COMMAND} -DINSTALLED=${prefix} -DSOURCE_DIR=${SOURCE_DIR} -DWORK_DIR=${WORK_DIR}/app
  -DGENERATOR=${GENERATOR} -DDRIVER=${prefix}/lib/libLoopback.so -DPREFIX_NAME=LOOP_ "-DCOMMAND=*IDN?"
  -P ${SOURCE_DIR}/tests/package/BuildAndRunApp.cmake RESULT_VARIABLE status OUTPUT_VARIABLE app ERROR_VARIABLE app)

# The same C program built with what pkg-config says, as a Makefile would.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs zelbridge OUTPUT_VARIABLE pc_flags
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
execute_process(COMMAND cc -std=c90 -Wall -Wextra -pedantic -Werror ${SOURCE_DIR}/tests/package/app/main.c ${pc_flags}
  -o ${WORK_DIR}/pkg_config_app COMMAND_ERROR_IS_FATAL ANY)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
execute_process(COMMAND ${WORK_DIR}/pkg_config_app ${prefix}/lib/libLoopback.so LOOP_ "*IDN?"
  OUTPUT_VARIABLE pkg_config ERROR_VARIABLE pkg_config)
unset(ENV{LD_LIBRARY_PATH})

set(tool ${prefix}/bin/zelbridge)
execute_process(COMMAND ${tool} shell --driver libSimulator.so --prefix SIM_ --usb ${prefix}/lib/Simulator.json
  INPUT_FILE ${SOURCE_DIR}/tests/package/simulator_session.txt OUTPUT_VARIABLE session ERROR_VARIABLE session)
execute_process(COMMAND ${tool} --version OUTPUT_VARIABLE version ERROR_VARIABLE version)

# What each step must have said.
set(expected
  "app|system 0, connect 0, command -?[0-9]+, answer -?[0-9]+ \"Zelbridge,Loopback,0,1.0\" of 25 bytes, error 0"
  "pkg_config|system 0, connect 0, command -?[0-9]+, answer -?[0-9]+ \"Zelbridge,Loopback,0,1.0\" of 25 bytes, error 0"
  "session|QX Motion,ST-200,SIM-0001"
  "session|MOVE X 80: error 7: Position out of limits"
  "session|0.000 mm"
  "version|zelbridge [0-9]+\\.[0-9]+\\.[0-9]+\nlibZelbridge\\.so\\.[0-9]+ [0-9]+\\.[0-9]+\\.[0-9]+ ${prefix}/lib/libZelbridge\\.so\\.[0-9]+\n")
set(wrong "")
foreach(entry IN LISTS expected)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 step)
  list(GET fields 1 pattern)
  if(NOT "${${step}}" MATCHES "${pattern}")
    string(APPEND wrong "${step} lacks '${pattern}':\n${${step}}\n")
  endif()
endforeach()
if(wrong)
  message(FATAL_ERROR "${wrong}")
endif()
message("${app}${pkg_config}${session}${version}")
