# Export lists of driver libraries, printed by a program built from the
# description of the exports, so that no list of driver function names is
# kept by hand and nothing but the compiler reads the description.

# The compiler is the one reader of the description: export_listing, built
# from it for the machine that builds, prints the lists as CMake variables.
set(_zb_listing_sources ${PROJECT_SOURCE_DIR}/src/api/export_listing.cpp ${PROJECT_SOURCE_DIR}/src/api/driver_contract.h
  ${PROJECT_SOURCE_DIR}/src/families/family_catalog.h ${PROJECT_SOURCE_DIR}/src/graph/graph_functions.h
  ${PROJECT_SOURCE_DIR}/include/zelbridge.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_zb_listing_sources})
set(ZELBRIDGE_EXPORT_LISTING ${CMAKE_BINARY_DIR}/export_listing/export_listing CACHE INTERNAL "")
set(ZELBRIDGE_EXPORT_DEF_FILE ${CMAKE_BINARY_DIR}/export_listing/Zelbridge.def CACHE INTERNAL "")
get_property(_zb_listing_built GLOBAL PROPERTY ZELBRIDGE_EXPORT_LISTING_BUILT)
if(NOT _zb_listing_built)
  find_program(ZELBRIDGE_HOST_CXX NAMES c++ g++ clang++ DOC "The compiler of the machine that builds" REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/export_listing)
  execute_process(
    COMMAND ${ZELBRIDGE_HOST_CXX} -std=c++17 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/src
            -I${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src/api/export_listing.cpp -o ${ZELBRIDGE_EXPORT_LISTING}
    RESULT_VARIABLE _zb_result ERROR_VARIABLE _zb_error)
  if(NOT _zb_result EQUAL 0)
    message(FATAL_ERROR "the description of the exports does not compile:\n${_zb_error}")
  endif()
  execute_process(COMMAND ${ZELBRIDGE_EXPORT_LISTING} --cmake OUTPUT_FILE ${CMAKE_BINARY_DIR}/export_listing/exports.cmake
    RESULT_VARIABLE _zb_result)
  if(NOT _zb_result EQUAL 0)
    message(FATAL_ERROR "export_listing --cmake failed")
  endif()
  execute_process(COMMAND ${ZELBRIDGE_EXPORT_LISTING} --def
    OUTPUT_FILE ${CMAKE_BINARY_DIR}/export_listing/Zelbridge.def.new RESULT_VARIABLE _zb_result)
  if(NOT _zb_result EQUAL 0)
    message(FATAL_ERROR "export_listing --def failed")
  endif()
  # Rewritten only when it changes, so that the module relinks only then.
  file(COPY_FILE ${CMAKE_BINARY_DIR}/export_listing/Zelbridge.def.new ${CMAKE_BINARY_DIR}/export_listing/Zelbridge.def
    ONLY_IF_DIFFERENT)
  set_property(GLOBAL PROPERTY ZELBRIDGE_EXPORT_LISTING_BUILT TRUE)
endif()
include(${CMAKE_BINARY_DIR}/export_listing/exports.cmake)

# zelbridge_driver_operations(<out var>): the 28 operation names of the driver
# contract, in its order.
function(zelbridge_driver_operations out_var)
  set(${out_var} ${ZELBRIDGE_DRIVER_OPERATION_NAMES} PARENT_SCOPE)
endfunction()

# zelbridge_driver_families(<out var>): one record "family:prefix:resolution
# prefix:library file" per family of the catalog, in its order.
function(zelbridge_driver_families out_var)
  set(records "")
  foreach(family IN LISTS ZELBRIDGE_FAMILY_NAMES)
    list(APPEND records "${family}:${ZELBRIDGE_FAMILY_${family}_PREFIX}:${ZELBRIDGE_FAMILY_${family}_RESOLUTION}:${ZELBRIDGE_FAMILY_${family}_LIBRARY}")
  endforeach()
  set(${out_var} ${records} PARENT_SCOPE)
endfunction()

# zelbridge_family_driver_functions(<family> <out var>): the driver functions
# the family resolves, with its resolution prefix, in resolution order.
function(zelbridge_family_driver_functions family out_var)
  if(NOT DEFINED ZELBRIDGE_FAMILY_${family}_DRIVER_FUNCTIONS)
    message(FATAL_ERROR "no family ${family} in the description of the exports")
  endif()
  set(${out_var} ${ZELBRIDGE_FAMILY_${family}_DRIVER_FUNCTIONS} PARENT_SCOPE)
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
