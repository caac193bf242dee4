# Runs PROGRAM with ARGUMENTS and fails unless it succeeds and prints exactly DOCUMENT.
separate_arguments(argument_list UNIX_COMMAND "${ARGUMENTS}")
execute_process(COMMAND ${PROGRAM} ${argument_list} RESULT_VARIABLE status
                OUTPUT_VARIABLE written ERROR_VARIABLE problems)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENTS} failed (${status}):\n${problems}")
endif()
file(READ ${DOCUMENT} stored)
if(NOT written STREQUAL stored)
  get_filename_component(name ${DOCUMENT} NAME)
  message(FATAL_ERROR "${name} differs from the output of ${PROGRAM} ${ARGUMENTS}; "
                      "write it again with: ${PROGRAM} ${ARGUMENTS} > ${DOCUMENT}")
endif()
