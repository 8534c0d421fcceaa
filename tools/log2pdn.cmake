# dxp-log2pdn: the games of a server log as PDN.
add_library(log2pdn_core STATIC ${CMAKE_CURRENT_SOURCE_DIR}/log2pdn/log_reader.cpp)
target_link_libraries(log2pdn_core PUBLIC pdn board)

add_executable(dxp-log2pdn ${CMAKE_CURRENT_SOURCE_DIR}/log2pdn/main.cpp)
target_link_libraries(dxp-log2pdn PRIVATE log2pdn_core)
