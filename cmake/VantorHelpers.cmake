# vantor_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [PROCESSORS n])
# One GoogleTest executable; its cases are registered with CTest when the
# tests run, so a build never executes test binaries.
function(vantor_add_test)
  cmake_parse_arguments(ARG "" "NAME;PROCESSORS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                        ${CMAKE_BINARY_DIR}/tests)
  # The discovered tests' properties pass through as one flat list, so a
  # second label would be read as a property name and drop the time-out.
  list(LENGTH ARG_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "${ARG_NAME}: give one label, not ${ARG_LABELS}")
  endif()
  # A test that runs processes of its own that keep a processor busy (the
  # simulated machine and the kernel's cycle) says how many it needs, so
  # that the test driver does not start more of them than it has.
  if(NOT ARG_PROCESSORS)
    set(ARG_PROCESSORS 1)
  endif()
  gtest_discover_tests(${ARG_NAME} DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300
                                  PROCESSORS ${ARG_PROCESSORS})
endfunction()

# vantor_add_benchmark(NAME name SOURCES ... [LIBS ...])
# Benchmarks are built with the project but never run by the test command.
function(vantor_add_benchmark)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;GOOGLE" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} Threads::Threads)
  if(TARGET benchmark::benchmark)
    target_link_libraries(${ARG_NAME} PRIVATE benchmark::benchmark)
  endif()
  set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                        ${CMAKE_BINARY_DIR}/bench)
endfunction()
