# Builds the MSI package from the install tree: installs the build, stripped,
# into a staging folder, lists its files with wixl-heat, builds the package
# with wixl and adds with msibuild what wixl cannot write.
#
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DVERSION=... -DUPGRADE_CODE=...
#       -DOUTPUT=...
#       -DWIXL=... -DWIXL_HEAT=... -DMSIBUILD=... -P BuildMsi.cmake
macro(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE status
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${output}")
  endif()
endmacro()

# wixl reads sources relative to the working folder only.
set(stage_name stage)
set(stage ${WORK_DIR}/${stage_name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage} --strip)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK_DIR} ${stage}/*)
list(SORT files)
list(JOIN files "\n" listing)
file(WRITE ${WORK_DIR}/files.txt "${listing}\n")
execute_process(COMMAND ${WIXL_HEAT} -p ${stage_name}/ --component-group InstalledFiles --var var.StageDir
    --directory-ref INSTALLFOLDER
  WORKING_DIRECTORY ${WORK_DIR} INPUT_FILE ${WORK_DIR}/files.txt OUTPUT_FILE ${WORK_DIR}/files.wxs
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl-heat failed")
endif()

# Every folder gets a component that removes it on uninstall: otherwise a
# folder that holds only folders (share, share/zelbridge) is left behind.
# Its GUID is the folder's identifier, which wixl-heat makes from its path,
# so it stays the same from one version to the next.
file(READ ${WORK_DIR}/files.wxs wxs)
string(REPEAT "[0-9A-F]" 4 hex4)
string(REPEAT "[0-9A-F]" 8 hex8)
string(REPEAT "[0-9A-F]" 12 hex12)
set(folder_pattern "<Directory Id=\"dir(${hex8})(${hex4})(${hex4})(${hex4})(${hex12})\" Name=\"[^\"]*\">")
string(REGEX MATCHALL "${folder_pattern}" folders "${wxs}")
set(references "")
foreach(folder IN LISTS folders)
  string(REGEX MATCH "${folder_pattern}" _ "${folder}")
  set(id dir${CMAKE_MATCH_1}${CMAKE_MATCH_2}${CMAKE_MATCH_3}${CMAKE_MATCH_4}${CMAKE_MATCH_5})
  set(guid ${CMAKE_MATCH_1}-${CMAKE_MATCH_2}-${CMAKE_MATCH_3}-${CMAKE_MATCH_4}-${CMAKE_MATCH_5})
  string(REPLACE "${folder}"
    "${folder}<Component Id=\"rm${id}\" Guid=\"${guid}\"><RemoveFolder Id=\"rf${id}\" On=\"uninstall\"/></Component>"
    wxs "${wxs}")
  string(APPEND references "<ComponentRef Id=\"rm${id}\"/>")
endforeach()
string(REPLACE "<ComponentGroup Id=\"InstalledFiles\">" "<ComponentGroup Id=\"InstalledFiles\">${references}" wxs "${wxs}")
file(WRITE ${WORK_DIR}/files.wxs "${wxs}")

set(package ${WORK_DIR}/Zelbridge.msi)
file(REMOVE ${package})
run(${WIXL} -a x86 -D Version=${VERSION} -D UpgradeCode=${UPGRADE_CODE} -D StageDir=${stage_name} -o ${package}
  ${SOURCE_DIR}/Zelbridge.wxs ${WORK_DIR}/files.wxs)
# The driver-folder feature only with DRIVERFOLDER; a
# reinstall of the same version replaces the installed one as a newer version
# does (wixl's MajorUpgrade finds only older ones); the property is kept by
# an immediate action (51), where wixl makes a deferred one (2048 + 51), which
# would set it too late; and DRIVERFOLDER reaches the elevated part of the
# install, as wixl's ignored Secure attribute would have said.
# Run again on an installed machine with DRIVERFOLDER, the package writes the
# folder: the driver-folder feature is added, or reinstalled when it is there,
# which rewrites its registry values (one or the other: a feature named in
# REINSTALL that is not installed loses what ADDLOCAL asked for). The installed bin folder goes at the
# end of the system PATH, and leaves it at uninstall (wixl has no Environment
# element: the table and its two standard actions are added here).
# (Called directly: a macro would split the list of properties at its ";".)
execute_process(COMMAND ${MSIBUILD} ${package} -i ${SOURCE_DIR}/driver_folder_condition.idt
    -i ${SOURCE_DIR}/system_path.idt
    -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('AddDriverFolder', 51, 'ADDLOCAL', 'DriverFolder')"
    -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('RewriteDriverFolder', 51, 'REINSTALL', 'DriverFolder')"
    -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('AddDriverFolder', 'Installed AND DRIVERFOLDER AND NOT REMOVE AND !DriverFolder<>3', 990)"
    -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('RewriteDriverFolder', 'Installed AND DRIVERFOLDER AND NOT REMOVE AND !DriverFolder=3', 991)"
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
    -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
    # Attributes: migrate feature states (1), the maximum version inclusive (512).
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{${UPGRADE_CODE}}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')"
    -q "UPDATE CustomAction SET Type = 51 WHERE Action = 'KeepDriverFolder'"
    -q "UPDATE Property SET Value = 'DRIVERFOLDER;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "msibuild failed:\n${output}")
endif()
file(RENAME ${package} ${OUTPUT})
