# The Windows build under wine (label "wine"): a private wine prefix under the build tree, the
# Windows platform checks, and the Windows server and stand-in of ../build-win (made by
# `make windows`) played end to end. Each test skips with its reason when wine, the cross
# compiler or the Windows programs are missing. Labelled "slow" as well: the sanitizer runs
# leave them out.
set(wine_dir ${CMAKE_BINARY_DIR}/wine)
set(wine_prefix ${wine_dir}/prefix)
set(wine_session ${CMAKE_CURRENT_SOURCE_DIR}/wine_session.sh)
get_filename_component(windows_bin ${CMAKE_BINARY_DIR}/../build-win/bin ABSOLUTE)

add_test(NAME wine_prefix COMMAND ${wine_session} prefix ${wine_prefix})
add_test(NAME wine_platform_check
         COMMAND ${wine_session} check ${wine_prefix} ${CMAKE_SOURCE_DIR} ${wine_dir}/check)
add_test(NAME wine_stop COMMAND ${wine_session} stop ${wine_prefix})
set_tests_properties(wine_prefix wine_platform_check wine_stop PROPERTIES
  LABELS "wine;slow" SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK wineprefix)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(wine_platform_check PROPERTIES
  FIXTURES_REQUIRED wine RESOURCE_LOCK "wineprefix;port27531")

if(TARGET dxp_client)
  add_executable(wine_e2e_tests wine_e2e_test.cpp)
  target_link_libraries(wine_e2e_tests PRIVATE dxp_client GTest::gtest_main)
  add_test(NAME wine_e2e COMMAND wine_e2e_tests)
  set_tests_properties(wine_e2e PROPERTIES
    LABELS "wine;slow" TIMEOUT 600 FIXTURES_REQUIRED wine
    RESOURCE_LOCK "wineprefix;port27531"
    ENVIRONMENT "WINEPREFIX=${wine_prefix};KAVRO_WINDOWS_BIN=${windows_bin};WINEDEBUG=-all"
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endif()
