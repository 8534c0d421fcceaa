# bench-standin: search speed and a short match of the stand-in's search against random moves.
add_executable(bench-standin ${CMAKE_CURRENT_LIST_DIR}/standin.cpp)
target_link_libraries(bench-standin PRIVATE standin_search board)
