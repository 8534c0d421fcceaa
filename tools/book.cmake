# book (make book): the stand-in's opening book, by its own search from the start position.
add_executable(book ${CMAKE_CURRENT_SOURCE_DIR}/book/main.cpp)
target_link_libraries(book PRIVATE standin_search platform board)
