# Runs a fuzz target for a fixed short time from a fresh working corpus
# seeded with the committed samples, so that a run takes the same few
# seconds however often the tests have run before. Each run has a folder of
# its own below WORK, so that two test runs over one build tree never empty
# each other's corpus; a run that finds a fault leaves its folder (with the
# fault's input) behind.
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND mktemp -d ${WORK}/run-XXXXXX OUTPUT_VARIABLE folder
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "cannot make a working folder below ${WORK}")
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -seed=1 -max_len=${MAX_LEN}
                        -rss_limit_mb=2048 -timeout=25 -print_final_stats=1
                        ${folder} ${SEEDS}
                WORKING_DIRECTORY ${folder}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (exit ${result}); its input is in ${folder}")
endif()
file(REMOVE_RECURSE ${folder})
