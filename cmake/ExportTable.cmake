# Reads the module definition file, the one list of the module's exports, and
# derives from it what other builds and the tests need.
#
# zelbridge_read_exports(<def file> <out var>): a list of "ordinal;name;bytes"
# records joined by "|", one per export, where name is the exported name and
# bytes the argument bytes of its stdcall internal name.
function(zelbridge_read_exports def_file out_var)
  file(STRINGS ${def_file} lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_@]* = [A-Za-z0-9_]+@[0-9]+ @[0-9]+")
  set(records "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_@]*) = ([A-Za-z0-9_]+)@([0-9]+) @([0-9]+)" _ "${line}")
    list(APPEND records "${CMAKE_MATCH_4}:${CMAKE_MATCH_1}:${CMAKE_MATCH_3}:${CMAKE_MATCH_2}")
  endforeach()
  set(${out_var} "${records}" PARENT_SCOPE)
endfunction()

# zelbridge_export_fields(<record>): sets export_ordinal, export_name,
# export_bytes and export_internal in the caller's scope.
macro(zelbridge_export_fields record)
  string(REPLACE ":" ";" _zb_fields "${record}")
  list(GET _zb_fields 0 export_ordinal)
  list(GET _zb_fields 1 export_name)
  list(GET _zb_fields 2 export_bytes)
  list(GET _zb_fields 3 export_internal)
endmacro()

# The X-macro list the tests walk: ZELBRIDGE_EXPORT(ordinal, "exported name",
# "name on this platform", argument bytes, function declared in the header).
function(zelbridge_write_export_include records out_file)
  set(text "// Generated from Zelbridge.def; do not edit.\n")
  foreach(record IN LISTS records)
    zelbridge_export_fields("${record}")
    if(WIN32)
      set(platform_name ${export_name})
    else()
      set(platform_name ${export_internal})
    endif()
    # The header declares each entry point under its exported name, a
    # decorated one (_Name@8) under its undecorated name.
    set(declared ${export_name})
    if(export_name MATCHES "^_(.+)@[0-9]+$")
      set(declared ${CMAKE_MATCH_1})
    endif()
    string(APPEND text "ZELBRIDGE_EXPORT(${export_ordinal}, \"${export_name}\", \"${platform_name}\", ${export_bytes}, ${declared})\n")
  endforeach()
  file(GENERATE OUTPUT ${out_file} CONTENT "${text}")
endfunction()

# 64-bit Windows has one calling convention and no name decoration.
function(zelbridge_write_undecorated_def def_file out_file)
  file(READ ${def_file} text)
  string(REGEX REPLACE "([A-Za-z0-9_@]+) = ([A-Za-z0-9_]+)@[0-9]+" "\\1 = \\2" text "${text}")
  file(GENERATE OUTPUT ${out_file} CONTENT "${text}")
endfunction()

# A shared object exports the entry points under their internal names and
# keeps everything else, the C++ runtime's templates included, to itself.
function(zelbridge_write_version_script records out_file)
  set(text "{\n  global:\n")
  foreach(record IN LISTS records)
    zelbridge_export_fields("${record}")
    string(APPEND text "    ${export_internal};\n")
  endforeach()
  string(APPEND text "  local: *;\n};\n")
  file(GENERATE OUTPUT ${out_file} CONTENT "${text}")
endfunction()
