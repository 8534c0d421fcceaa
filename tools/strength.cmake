# strength (make strength, make tune): the stand-in's search against the one of a baseline
# commit (STRENGTH_BASELINE), whose sources are taken from git into the build folder; and the
# tuner.
set(STRENGTH_BASELINE 62429a5 CACHE STRING "The commit whose stand-in make strength plays")
set(strength_baseline ${CMAKE_BINARY_DIR}/baseline-${STRENGTH_BASELINE})
add_custom_command(
  OUTPUT ${strength_baseline}/taken
  COMMAND ${CMAKE_COMMAND} -E make_directory ${strength_baseline}
  COMMAND git -C ${CMAKE_SOURCE_DIR} archive ${STRENGTH_BASELINE} standin
          | tar -x -C ${strength_baseline}
  COMMAND ${CMAKE_COMMAND} -E touch ${strength_baseline}/taken
  COMMENT "The stand-in's search of ${STRENGTH_BASELINE}")
# The old sources must be found before the current ones of the same names.
add_library(strength_baseline OBJECT EXCLUDE_FROM_ALL
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/baseline.cpp ${strength_baseline}/taken)
target_include_directories(strength_baseline BEFORE PRIVATE ${strength_baseline})
# A baseline with endgame data (bitbases since the pattern terms, then the tables of kings
# against one) reads it too, so that a match against a recent commit weighs only what changed.
foreach(part endgame kings)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} cat-file -e
                          ${STRENGTH_BASELINE}:standin/${part}.cpp
    RESULT_VARIABLE strength_baseline_missing OUTPUT_QUIET ERROR_QUIET)
  if(NOT strength_baseline_missing)
    string(TOUPPER ${part} part)
    target_compile_definitions(strength_baseline PRIVATE STRENGTH_BASELINE_${part})
  endif()
endforeach()
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/strength/baseline.cpp PROPERTIES
  OBJECT_DEPENDS "${strength_baseline}/taken")
add_executable(strength EXCLUDE_FROM_ALL
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/strength.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/strength/tune.cpp
  $<TARGET_OBJECTS:strength_baseline>)
target_compile_definitions(strength PRIVATE STRENGTH_BASELINE="${STRENGTH_BASELINE}")
target_link_libraries(strength PRIVATE dxp_match_core standin_search platform board)
