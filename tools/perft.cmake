add_executable(perft ${CMAKE_CURRENT_LIST_DIR}/perft.cpp)
target_link_libraries(perft PRIVATE board)

add_executable(perft-check ${CMAKE_CURRENT_LIST_DIR}/perft_check.cpp)
target_link_libraries(perft-check PRIVATE board)
