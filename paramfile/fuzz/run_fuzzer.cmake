# Runs the fuzzer from a fresh working corpus each time, so that a run takes
# the same few seconds however often the tests have run before.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -max_len=4096 -rss_limit_mb=2048
                        ${WORK} ${SEEDS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the parameter-file fuzzer found a fault (exit ${result})")
endif()
