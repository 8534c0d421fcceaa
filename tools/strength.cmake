# strength (make strength, make tune): the stand-in's search against the one of commit
# 82c5efc, whose sources are taken from git into the build folder; and the tuner.
set(strength_baseline ${CMAKE_BINARY_DIR}/baseline-82c5efc)
add_custom_command(
  OUTPUT ${strength_baseline}/standin/search.cpp ${strength_baseline}/standin/evaluate.cpp
         ${strength_baseline}/standin/search.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${strength_baseline}
  COMMAND git -C ${CMAKE_SOURCE_DIR} archive 82c5efc standin/search.cpp standin/evaluate.cpp
          standin/search.h | tar -x -C ${strength_baseline}
  COMMENT "The stand-in's search of 82c5efc")
# The old sources must be found before the current ones of the same names.
add_library(strength_baseline OBJECT EXCLUDE_FROM_ALL
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/baseline.cpp ${strength_baseline}/standin/search.h)
target_include_directories(strength_baseline BEFORE PRIVATE ${strength_baseline})
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/strength/baseline.cpp PROPERTIES
  OBJECT_DEPENDS "${strength_baseline}/standin/search.cpp;${strength_baseline}/standin/evaluate.cpp")
add_executable(strength EXCLUDE_FROM_ALL
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/strength.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/tune.cpp
  $<TARGET_OBJECTS:strength_baseline>)
target_link_libraries(strength PRIVATE dxp_match_core standin_search platform board)
