# dxp-soak: 200 short games on one connection against the real server and stand-in, with the
# DXP test client of the end-to-end tests. Not part of the test suite: `make soak` runs it.
set(soak_client ${CMAKE_SOURCE_DIR}/tests/e2e/dxp_test_client.cpp)
if(EXISTS ${soak_client} AND NOT WIN32)
  add_executable(dxp-soak ${CMAKE_CURRENT_LIST_DIR}/soak/soak.cpp ${soak_client})
  target_link_libraries(dxp-soak PRIVATE dxp board platform)
  target_compile_definitions(dxp-soak PRIVATE KAVRO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  target_compile_options(dxp-soak PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(TARGET kavro-dxp AND TARGET winkavro)
    add_dependencies(dxp-soak kavro-dxp winkavro)
  endif()
endif()
