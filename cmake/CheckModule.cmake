# Checks a built Zelbridge.dll against the module definition file, by reading
# the DLL itself: module name, ordinal base, every exported name at its
# ordinal and nothing else, and that it imports only DLLs every Windows
# installation has.
#
# cmake -DOBJDUMP=<objdump> -DMODULE=<dll> -DDEF=<def file> -P CheckModule.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ExportTable.cmake)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot read ${MODULE}")
endif()
set(problems "")

string(FIND "${dump}" "The Export Tables" export_start)
if(export_start EQUAL -1)
  message(FATAL_ERROR "${MODULE} has no export table")
endif()
string(SUBSTRING "${dump}" ${export_start} -1 exports)

string(REGEX MATCH "\n[ \t]*Name[ \t]+[0-9a-fA-F]+ ([^\n]+)" _ "${exports}")
if(NOT CMAKE_MATCH_1 STREQUAL "Zelbridge.DLL")
  string(APPEND problems "module name is '${CMAKE_MATCH_1}', not 'Zelbridge.DLL'\n")
endif()
string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${exports}")
set(base ${CMAKE_MATCH_1})
if(NOT base EQUAL 1)
  string(APPEND problems "ordinal base is ${base}, not 1\n")
endif()

# "[   6] CloseConnection": the index is relative to the ordinal base.
string(FIND "${exports}" "[Ordinal/Name Pointer] Table" table_start)
string(SUBSTRING "${exports}" ${table_start} -1 table)
string(REGEX MATCHALL "\n[ \t]*\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(actual "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([^ \n]+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND actual "${ordinal} ${CMAKE_MATCH_2}")
endforeach()

zelbridge_read_exports(${DEF} records)
set(expected "")
foreach(record IN LISTS records)
  string(REPLACE ":" ";" fields "${record}")
  list(GET fields 0 ordinal)
  list(GET fields 1 name)
  list(APPEND expected "${ordinal} ${name}")
endforeach()

list(SORT actual)
list(SORT expected)
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
foreach(item IN LISTS missing)
  string(APPEND problems "not exported: ${item}\n")
endforeach()
foreach(item IN LISTS extra)
  string(APPEND problems "exported but not in the module definition: ${item}\n")
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REGEX REPLACE "DLL Name: " "" dll "${import}")
  string(TOUPPER "${dll}" dll_upper)
  if(NOT dll_upper MATCHES "^(KERNEL32|ADVAPI32|MSVCRT)\\.DLL$")
    string(APPEND problems "imports ${dll}, which a plain Windows installation does not have\n")
  endif()
endforeach()

list(LENGTH actual count)
if(problems)
  message(FATAL_ERROR "${MODULE}:\n${problems}")
endif()
message(STATUS "${MODULE}: ${count} exports at their ordinals, module name Zelbridge.DLL, system imports only")
