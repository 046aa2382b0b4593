# The MSI package as an administrator uses it, under Wine: a silent install
# without DRIVERFOLDER leaves an install path set before alone, and so does
# its uninstall; run again with DRIVERFOLDER it sets it, the installed
# tool, on the system PATH, finds the module and the driver folder, an application builds against
# the installed header and import library and runs; a newer version replaces
# the older and keeps its driver folder; the uninstall leaves no file of the
# package.
#
# cmake -DMSI=... -DWINE_PREFIX=... -DLAUNCHER=... -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=...
#       -DGENERATOR=... -DTOOLCHAIN=... -DARCH=... -DVERSION=... -DMSI_BUILD_ARGS=... -P MsiRoundTrip.cmake
if(NOT EXISTS ${MSI})
  message(FATAL_ERROR "${MSI} was not built: wixl, wixl-heat and msibuild are needed (bash scripts/setup.sh)")
endif()
string(REPLACE "|" ";" launcher "${LAUNCHER}")
string(REPLACE "|" ";" msi_build_args "${MSI_BUILD_ARGS}")
set(key "HKLM\\Software\\QX\\Zelbridge")
set(installed "${WINE_PREFIX}/drive_c/Program Files/Zelbridge")
set(driver_folder "C:\\Program Files\\Zelbridge\\bin\\simulated_families")
set(earlier_value "C:\\lab\\drivers")

# wine(<output var> <program> <arguments>...): runs a Windows program; fails on a non-zero exit.
function(wine out_var)
  execute_process(COMMAND ${launcher} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REPLACE "\r" "" output "${output}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${status}\n${output}")
  endif()
  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()

# The install path value as `reg query` shows it, or "(none)".
function(install_path_value out_var)
  execute_process(COMMAND ${launcher} reg query ${key} /v Path RESULT_VARIABLE status OUTPUT_VARIABLE output
    ERROR_QUIET)
  set(value "(none)")
  if(status EQUAL 0 AND output MATCHES "Path +REG_SZ +([^\r\n]*)")
    set(value "${CMAKE_MATCH_1}")
  endif()
  set(${out_var} "${value}" PARENT_SCOPE)
endfunction()

function(expect_install_path expected when)
  install_path_value(value)
  if(NOT value STREQUAL expected)
    message(FATAL_ERROR "${when}: install path \"${value}\", expected \"${expected}\"")
  endif()
endfunction()

# The system PATH, as a new command prompt gets it.
function(system_path out_var)
  execute_process(COMMAND ${launcher} reg query "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"
      /v PATH OUTPUT_VARIABLE output ERROR_QUIET)
  string(REGEX MATCH "PATH +REG_[A-Z_]+ +([^\r\n]*)" _ "${output}")
  set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Whether the installed bin folder is on the system PATH.
function(expect_on_system_path expected when)
  system_path(output)
  string(FIND "${output}" "C:\\Program Files\\Zelbridge\\bin" found)
  set(on FALSE)
  if(found GREATER -1)
    set(on TRUE)
  endif()
  if(NOT on STREQUAL expected)
    message(FATAL_ERROR "${when}: the installed bin folder on the system PATH is not ${expected}:\n${output}")
  endif()
endfunction()

function(expect_no_package_file when)
  if(EXISTS "${installed}")
    file(GLOB_RECURSE left "${installed}/*")
    message(FATAL_ERROR "${when}: ${installed} is still there: ${left}")
  endif()
endfunction()

set(newer_msi ${WORK_DIR}/newer/Zelbridge-newer.msi)
# A run that failed half-way left its package installed.
if(EXISTS "${installed}")
  foreach(package ${MSI} ${newer_msi})
    if(EXISTS ${package})
      execute_process(COMMAND ${launcher} msiexec /x ${package} /qn OUTPUT_QUIET ERROR_QUIET)
    endif()
  endforeach()
endif()
install_path_value(original_value)

# A newer version of the same package, to upgrade to.
string(REGEX REPLACE "^([0-9]+\\.[0-9]+)\\.([0-9]+)$" "\\1" major_minor "${VERSION}")
math(EXPR patch "${CMAKE_MATCH_2} + 1")
execute_process(COMMAND ${CMAKE_COMMAND} ${msi_build_args} -DWORK_DIR=${WORK_DIR}/newer
    -DVERSION=${major_minor}.${patch} -DOUTPUT=${newer_msi} -P ${SOURCE_DIR}/packaging/msi/BuildMsi.cmake
  COMMAND_ERROR_IS_FATAL ANY)

# An install path set before; an install, an upgrade and an uninstall
# without DRIVERFOLDER leave it alone. Nothing is left once the newer version
# is uninstalled, so the upgrade removed the older one.
wine(_ reg add ${key} /v Path /t REG_SZ /d ${earlier_value} /f)
system_path(path_before)
wine(_ msiexec /i ${MSI} /qn)
# The Python package, for a Python of any bitness, beside the module.
if(NOT EXISTS "${installed}/python/zelbridge-${VERSION}-py3-none-any.whl")
  message(FATAL_ERROR "the package did not install the Python wheel")
endif()
file(STRINGS ${BUILD_DIR}/packaging/msi/files.txt package_files)
foreach(file IN LISTS package_files)
  string(REGEX REPLACE "^stage/" "" file "${file}")
  if(NOT EXISTS "${installed}/${file}")
    message(FATAL_ERROR "the package did not install ${file}")
  endif()
endforeach()
expect_install_path("${earlier_value}" "installed without DRIVERFOLDER")
wine(_ msiexec /i ${newer_msi} /qn)
expect_install_path("${earlier_value}" "upgraded without DRIVERFOLDER")
wine(_ msiexec /x ${newer_msi} /qn)
expect_install_path("${earlier_value}" "uninstalled without DRIVERFOLDER")
expect_no_package_file("uninstalled")

# Run again on the installed machine, with DRIVERFOLDER, the package writes
# it, and once more with another folder: the folder of the installed
# simulated family libraries. The installed tool is on the system PATH.
wine(_ msiexec /i ${MSI} /qn)
expect_install_path("${earlier_value}" "installed again without DRIVERFOLDER")
expect_on_system_path(TRUE "installed")
wine(_ msiexec /i ${MSI} /qn "DRIVERFOLDER=C:\\QX")
expect_install_path("C:\\QX" "run again with DRIVERFOLDER")
wine(_ msiexec /i ${MSI} /qn "DRIVERFOLDER=${driver_folder}")
expect_install_path("${driver_folder}" "run again with another DRIVERFOLDER")
# By its bare name: a new process finds it on the system PATH.
wine(check zelbridge.exe check)
string(REPLACE "\\" "\\\\" folder_pattern "${driver_folder}")
foreach(expected "Zelbridge: +Zelbridge.dll, 32-bit" "Install path: +${folder_pattern}\n"
                 "M329_ +M329_ZEL_DLL.DLL +found: ${folder_pattern}\\\\M329_ZEL_DLL.DLL")
  if(NOT check MATCHES "${expected}")
    message(FATAL_ERROR "zelbridge check does not show \"${expected}\":\n${check}")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DSOURCE_DIR=${SOURCE_DIR}
    -DWORK_DIR=${WORK_DIR}/app -DGENERATOR=${GENERATOR} -DTOOLCHAIN=${TOOLCHAIN} -DARCH=${ARCH}
    -DLAUNCHER=${LAUNCHER} -DINSTALLED=${installed} "-DDRIVER=C:\\Program Files\\Zelbridge\\bin\\Loopback.dll"
    -DPREFIX_NAME=LOOP_ "-DCOMMAND=*IDN?" -P ${SOURCE_DIR}/tests/package/BuildAndRunApp.cmake
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output MATCHES "answer -?[0-9]+ \"Zelbridge,Loopback,0,1.0\"")
  message(FATAL_ERROR "the application against the installed package:\n${output}")
endif()

# Without DRIVERFOLDER, the upgrade keeps the folder the older package wrote,
# and the uninstall removes it.
wine(_ msiexec /i ${newer_msi} /qn)
expect_install_path("${driver_folder}" "upgraded without DRIVERFOLDER")
wine(_ msiexec /x ${newer_msi} /qn)
expect_no_package_file("the newer version uninstalled")
expect_install_path("(none)" "the newer version uninstalled")
expect_on_system_path(FALSE "the newer version uninstalled")
# Wine's msi leaves the separator of an appended entry behind at uninstall
# (a package of nothing but that standard Environment row does the same), and
# the next install appends after it: an empty entry, which no search uses.
# Apart from empty entries the PATH must be as it was.
system_path(path_after)
foreach(path path_before path_after)
  string(REGEX REPLACE ";;+" ";" ${path} "${${path}}")
  string(REGEX REPLACE ";$" "" ${path} "${${path}}")
endforeach()
if(NOT path_after STREQUAL path_before)
  message(FATAL_ERROR "the system PATH is not as before the install:\nbefore: ${path_before}\nafter:  ${path_after}")
endif()

if(original_value STREQUAL "(none)")
  execute_process(COMMAND ${launcher} reg delete ${key} /v Path /f OUTPUT_QUIET ERROR_QUIET)
else()
  wine(_ reg add ${key} /v Path /t REG_SZ /d ${original_value} /f)
endif()
message("the package installed, served an application and uninstalled cleanly")
