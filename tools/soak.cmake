# dxp-soak: 200 short games on one connection against the real server and stand-in. Not part
# of the test suite: `make soak` runs it.
if(TARGET dxp_client)
  add_executable(dxp-soak ${CMAKE_CURRENT_LIST_DIR}/soak/soak.cpp)
  target_link_libraries(dxp-soak PRIVATE dxp_client)
  target_compile_options(dxp-soak PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(TARGET kavro-dxp AND TARGET winkavro)
    add_dependencies(dxp-soak kavro-dxp winkavro)
  endif()
endif()
