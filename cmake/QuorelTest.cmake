# quorel_test(<name> LABELS <label>... SOURCES <file>... LIBS <lib>...)
#
# One GoogleTest executable, its cases registered with CTest one by one and
# tagged with the subsystem label (and "threads" for suites the TSan run takes).
function(quorel_test name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # gtest_discover_tests flattens a list value, so each label is passed as its
  # own LABELS property entry or only the first would survive.
  set(props)
  foreach(label IN LISTS T_LABELS)
    list(APPEND props LABELS ${label})
  endforeach()
  gtest_discover_tests(${name} PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()

# quorel_bench(<name> SOURCES <file>... LIBS <lib>...)
function(quorel_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
