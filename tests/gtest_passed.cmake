# Runs one GoogleTest executable (under EMULATOR when cross-compiled) and passes only when it exits
# with 0 and GoogleTest reports success with at least one test run. Under Wine a process that
# crashes can still exit with 0, and a filter that matches nothing "passes" with 0 tests.
#   cmake -DTEST=<exe> [-DEMULATOR=<runner>] [-DARGS=<a;b>] -P gtest_passed.cmake
execute_process(COMMAND ${EMULATOR} ${TEST} ${ARGS}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output ERROR_VARIABLE output
  ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE)
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "${TEST} exited with ${result}")
endif()
if(NOT output MATCHES "\n\\[  PASSED  \\] ([0-9]+) tests?\\." OR CMAKE_MATCH_1 EQUAL 0)
  message(FATAL_ERROR "${TEST} did not report a passing run of at least one test")
endif()
