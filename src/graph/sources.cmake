# The graph binding and its entry points, part of the core.
target_sources(zelbridge_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/graph_binding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/graph_entry_points.cpp)
