# A scripted DXP client: starts a server in a scratch directory, talks DXP, checks every move
# it receives against the legal moves. The soak tool and the end-to-end suites use it.
if(NOT WIN32)
  add_library(dxp_client STATIC ${CMAKE_CURRENT_LIST_DIR}/dxp_client/dxp_client.cpp)
  target_link_libraries(dxp_client PUBLIC dxp board platform)
  target_compile_definitions(dxp_client PRIVATE KAVRO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  target_compile_options(dxp_client PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
endif()
