# Runs a feedlet-tool command and compares its standard output and exit
# status with what is expected. Variables: EMULATOR (may be empty), TOOL,
# ARGS (a list), EXPECTED (a file with the exact output), EXPECTED_STATUS.
execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGS}
  OUTPUT_VARIABLE output RESULT_VARIABLE status)
file(READ "${EXPECTED}" expected)
if(NOT status STREQUAL "${EXPECTED_STATUS}")
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED_STATUS}\n${output}")
endif()
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "output differs:\n${output}\nexpected:\n${expected}")
endif()
