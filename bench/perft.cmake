add_executable(bench-perft ${CMAKE_CURRENT_LIST_DIR}/perft.cpp)
target_link_libraries(bench-perft PRIVATE board)
