# Import libraries for applications that link to Zelbridge.dll at build time,
# made from the module definition file: libZelbridge.dll.a for MinGW and
# Zelbridge.lib, in the short import format, for MSVC. Applications call
# the stdcall names their compiler decorates (_DefineSystem@8); the import
# libraries turn them into the names the DLL exports (DefineSystem, and
# _ConnectPciBoard@8, which keeps its decoration).
function(zelbridge_add_import_libraries records)
  find_program(ZELBRIDGE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  find_program(ZELBRIDGE_LLVM_LIB NAMES llvm-lib llvm-lib-14 REQUIRED)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/import)
  set(out ${CMAKE_BINARY_DIR}/lib)
  set(gnu_def "LIBRARY Zelbridge.dll\nEXPORTS\n")
  set(msvc_def "LIBRARY Zelbridge.dll\nEXPORTS\n")
  set(decorated_objects "")
  set(decorated_names "")
  foreach(record IN LISTS records)
    zelbridge_export_fields("${record}")
    if(export_name MATCHES "@[0-9]+$")
      string(APPEND gnu_def "    ${export_internal}@${export_bytes} @${export_ordinal} == ${export_name}\n")
      set(object ${work}/${export_internal}.obj)
      add_custom_command(OUTPUT ${object}
        COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/write-import-object.sh ${export_name} Zelbridge.dll ${export_ordinal} ${object}
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/write-import-object.sh ${ZELBRIDGE_DEF_FILE})
      list(APPEND decorated_objects ${object})
      list(APPEND decorated_names ${export_internal}.obj)
    else()
      string(APPEND gnu_def "    ${export_internal}@${export_bytes} @${export_ordinal}\n")
      string(APPEND msvc_def "    ${export_internal}@${export_bytes} @${export_ordinal}\n")
    endif()
  endforeach()
  file(GENERATE OUTPUT ${work}/gnu.def CONTENT "${gnu_def}")
  file(GENERATE OUTPUT ${work}/msvc.def CONTENT "${msvc_def}")

  add_custom_command(OUTPUT ${out}/libZelbridge.dll.a
    COMMAND ${CMAKE_DLLTOOL} -k -d ${work}/gnu.def -D Zelbridge.dll -l ${out}/libZelbridge.dll.a
    DEPENDS ${work}/gnu.def ${ZELBRIDGE_DEF_FILE})
  # llvm-lib takes an argument that starts with "/" for an option: hand it
  # relative names from the work folder.
  add_custom_command(OUTPUT ${out}/Zelbridge.lib
    COMMAND ${ZELBRIDGE_LLVM_DLLTOOL} -m i386 -k -d msvc.def -l undecorated.lib
    COMMAND ${ZELBRIDGE_LLVM_LIB} -out:Zelbridge.lib undecorated.lib ${decorated_names}
    COMMAND ${CMAKE_COMMAND} -E copy Zelbridge.lib ${out}/Zelbridge.lib
    WORKING_DIRECTORY ${work}
    DEPENDS ${work}/msvc.def ${decorated_objects} ${ZELBRIDGE_DEF_FILE})
  add_custom_target(zelbridge_import_libraries ALL DEPENDS ${out}/libZelbridge.dll.a ${out}/Zelbridge.lib)
endfunction()

# 64-bit Windows: one calling convention and no decoration, so the import
# libraries list the names as exported, and ConnectPciBoard, as the header
# declares it, as another name of the export that keeps its 32-bit
# decoration: Zelbridge.lib for MSVC, libZelbridge.dll.a for MinGW (whose
# linker-made one lacks that name).
function(zelbridge_add_import_libraries_64 records)
  find_program(ZELBRIDGE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/import)
  set(out ${CMAKE_BINARY_DIR}/lib)
  set(msvc_def "LIBRARY Zelbridge.dll\nEXPORTS\n")
  set(gnu_def "LIBRARY Zelbridge.dll\nEXPORTS\n")
  foreach(record IN LISTS records)
    zelbridge_export_fields("${record}")
    string(APPEND msvc_def "    ${export_name} @${export_ordinal}\n")
    string(APPEND gnu_def "    ${export_name} @${export_ordinal}\n")
    if(export_name MATCHES "@[0-9]+$")
      string(APPEND msvc_def "    ${export_internal} == ${export_name}\n")
      string(APPEND gnu_def "    ${export_internal} @${export_ordinal} == ${export_name}\n")
    endif()
  endforeach()
  file(GENERATE OUTPUT ${work}/msvc64.def CONTENT "${msvc_def}")
  file(GENERATE OUTPUT ${work}/gnu64.def CONTENT "${gnu_def}")
  add_custom_command(OUTPUT ${out}/Zelbridge.lib
    COMMAND ${ZELBRIDGE_LLVM_DLLTOOL} -m i386:x86-64 -d ${work}/msvc64.def -l ${out}/Zelbridge.lib
    DEPENDS ${work}/msvc64.def ${ZELBRIDGE_DEF_FILE})
  add_custom_command(OUTPUT ${out}/libZelbridge.dll.a
    COMMAND ${CMAKE_DLLTOOL} -d ${work}/gnu64.def -D Zelbridge.dll -l ${out}/libZelbridge.dll.a
    DEPENDS ${work}/gnu64.def ${ZELBRIDGE_DEF_FILE})
  add_custom_target(zelbridge_import_libraries ALL DEPENDS ${out}/Zelbridge.lib ${out}/libZelbridge.dll.a)
endfunction()
