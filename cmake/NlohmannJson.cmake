# nlohmann/json as the target zelbridge_nlohmann_json, for every target that
# reads or writes JSON. The header-only library is taken from the build
# machine; its folder alone is made visible, through a link in the build tree,
# because /usr/include as a whole would give a cross build the build
# machine's C library headers.
include_guard(GLOBAL)

find_path(ZELBRIDGE_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZELBRIDGE_NLOHMANN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install the Debian package nlohmann-json3-dev")
endif()
set(_zb_json_include ${CMAKE_BINARY_DIR}/nlohmann-json-include)
file(MAKE_DIRECTORY ${_zb_json_include})
file(CREATE_LINK ${ZELBRIDGE_NLOHMANN_JSON_INCLUDE}/nlohmann ${_zb_json_include}/nlohmann SYMBOLIC)

add_library(zelbridge_nlohmann_json INTERFACE)
target_include_directories(zelbridge_nlohmann_json SYSTEM INTERFACE ${_zb_json_include})
