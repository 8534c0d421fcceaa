# Runs TOOL with ARGS (a ;-list) and checks its exit status (EXPECT_RC) and that its standard
# output matches EXPECT (a regular expression).
execute_process(COMMAND ${TOOL} ${ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 50)
if(NOT rc STREQUAL EXPECT_RC)
  message(FATAL_ERROR "exit status ${rc}, expected ${EXPECT_RC}\noutput:\n${out}${err}")
endif()
if(NOT out MATCHES "${EXPECT}")
  message(FATAL_ERROR "output does not match ${EXPECT}:\n${out}")
endif()
