# dxp-match: the DXP initiator that plays matches and writes PDN.
add_library(dxp_match_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/options.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/score.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/link.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/players.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/session.cpp)
target_link_libraries(dxp_match_core PUBLIC pdn dxp standin_search platform board)

add_executable(dxp-match ${CMAKE_CURRENT_SOURCE_DIR}/dxp_match/main.cpp)
target_link_libraries(dxp-match PRIVATE dxp_match_core)
