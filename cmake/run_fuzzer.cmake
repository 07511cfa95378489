# Runs a fuzz target for a fixed short time from a fresh working corpus
# seeded with the committed samples, so that a run takes the same few
# seconds however often the tests have run before.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -seed=1 -max_len=${MAX_LEN}
                        -rss_limit_mb=2048 -timeout=25 -print_final_stats=1
                        ${WORK} ${SEEDS}
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (exit ${result})")
endif()
