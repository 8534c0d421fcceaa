# endgame (make endgame): the endgame bitbases of the stand-in and its tables of kings
# against one, worked out from the rules.
add_library(endgame_generator STATIC ${CMAKE_CURRENT_SOURCE_DIR}/endgame/generate.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/endgame/kings.cpp)
target_link_libraries(endgame_generator PUBLIC standin_search board)
add_executable(endgame ${CMAKE_CURRENT_SOURCE_DIR}/endgame/main.cpp)
target_link_libraries(endgame PRIVATE endgame_generator platform)
