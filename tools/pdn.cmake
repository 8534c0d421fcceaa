# The game record, PDN notation, writer and reader shared by dxp-match, dxp-log2pdn and tests.
add_library(pdn STATIC ${CMAKE_CURRENT_SOURCE_DIR}/pdn/game.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/pdn/pdn.cpp)
target_link_libraries(pdn PUBLIC board)
