# The six controller families: their table, bindings and exported entry points.
target_sources(zelbridge_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/family_binding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/family_entry_points.cpp
  ${CMAKE_CURRENT_LIST_DIR}/family_lifecycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/family_tables.cpp)
