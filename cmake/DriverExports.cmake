# Export lists of driver libraries, read from the headers that say what a
# driver exports, so that no list of driver function names is kept by hand.

set(_zb_driver_contract ${PROJECT_SOURCE_DIR}/src/api/driver_contract.h)
set(_zb_family_catalog ${PROJECT_SOURCE_DIR}/src/families/family_catalog.h)

# _zb_read_rows(<header> <row regex> <expected count> <out var>): for each
# match of the row regex, its captures joined by ":".
function(_zb_read_rows header row_regex expected out_var)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REGEX MATCHALL "${row_regex}" rows "${text}")
  set(records "")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "${row_regex}" _ "${row}")
    set(record "${CMAKE_MATCH_1}")
    foreach(group 2 3 4)
      if(NOT "${CMAKE_MATCH_${group}}" STREQUAL "")
        string(APPEND record ":${CMAKE_MATCH_${group}}")
      endif()
    endforeach()
    list(APPEND records "${record}")
  endforeach()
  list(LENGTH records count)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "expected ${expected} rows in ${header}, found ${count}")
  endif()
  set(${out_var} ${records} PARENT_SCOPE)
endfunction()

# zelbridge_driver_operations(<out var>): the 28 operation names of the driver
# contract, in its order. Each is one line "    X(Name, (parameters), (arguments))".
function(zelbridge_driver_operations out_var)
  _zb_read_rows(${_zb_driver_contract} "\n +X\\(([A-Za-z0-9]+)," 28 operations)
  set(${out_var} ${operations} PARENT_SCOPE)
endfunction()

# zelbridge_driver_families(<out var>): one record "family:prefix:resolution
# prefix:library file" per family of the catalog, in its order.
function(zelbridge_driver_families out_var)
  _zb_read_rows(${_zb_family_catalog} "\n +F\\(([A-Z0-9_]+), ([A-Z0-9_]+), ([A-Z0-9_]+), \"([^\"]+)\"" 6 families)
  set(${out_var} ${families} PARENT_SCOPE)
endfunction()

# zelbridge_family_driver_functions(<family> <out var>): the driver functions
# the family resolves, with its resolution prefix, in resolution order.
function(zelbridge_family_driver_functions family out_var)
  zelbridge_driver_families(families)
  set(position -1)
  set(resolution "")
  foreach(record IN LISTS families)
    math(EXPR position "${position} + 1")
    string(REPLACE ":" ";" fields "${record}")
    list(GET fields 0 name)
    if(name STREQUAL family)
      list(GET fields 2 resolution)
      break()
    endif()
  endforeach()
  if(resolution STREQUAL "")
    message(FATAL_ERROR "no family ${family} in ${_zb_family_catalog}")
  endif()
  file(READ ${_zb_family_catalog} text)
  # A row is "X(context, operation, driver function, ..., (marks))", over
  # one or more lines; the marks say which families export it, in the
  # order of the families.
  string(REGEX MATCHALL "X\\(context, [A-Za-z0-9]+, [A-Za-z0-9]+, [^()]*(\\([^()]*\\)[^()]*)*\\(([01], )+[01]\\)\\)"
    rows "${text}")
  set(functions "")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "^X\\(context, [A-Za-z0-9]+, ([A-Za-z0-9]+), .*\\(([01], [01], [01], [01], [01], [01])\\)\\)$"
      _ "${row}")
    set(driver ${CMAKE_MATCH_1})
    string(REPLACE ", " ";" marks "${CMAKE_MATCH_2}")
    list(GET marks ${position} exported)
    if(exported)
      list(APPEND functions ${resolution}${driver})
    endif()
  endforeach()
  if(NOT functions)
    message(FATAL_ERROR "no driver functions of ${family} found in ${_zb_family_catalog}")
  endif()
  set(${out_var} ${functions} PARENT_SCOPE)
endfunction()

# zelbridge_export_driver_functions(<target> <module name> <names...>): the
# library exports exactly these names, undecorated, and nothing else.
function(zelbridge_export_driver_functions target module)
  set(exports_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  if(WIN32)
    list(JOIN ARGN "\n  " names)
    file(GENERATE OUTPUT ${exports_file}.def CONTENT "LIBRARY \"${module}\"\nEXPORTS\n  ${names}\n")
    target_sources(${target} PRIVATE ${exports_file}.def)
    # Drivers export undecorated names; the linker matches each to its
    # stdcall definition (name@bytes on 32-bit Windows).
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  else()
    list(JOIN ARGN ";\n    " names)
    file(GENERATE OUTPUT ${exports_file}.map CONTENT "{\n  global:\n    ${names};\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE -Wl,--version-script=${exports_file}.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports_file}.map)
  endif()
endfunction()
