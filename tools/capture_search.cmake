# The search that explored how many maximal captures a position can have, which sizes the
# move lists (not built by default: `ninja capture-search`, then e.g. `capture-search 600 1`).
add_executable(capture-search EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/capture_search.cpp)
target_link_libraries(capture-search PRIVATE board)
