# quorel_test(<name> LABELS <label>... SOURCES <file>... LIBS <lib>... [COST <n>])
#
# One GoogleTest executable, its cases registered with CTest one by one and
# tagged with the subsystem label (and "threads" for suites the TSan run takes).
# COST marks cases that run for minutes, so a parallel run starts them first
# instead of leaving them as its tail: roughly each case's seconds under a
# sanitizer on a busy machine, the scale CTest's own timings use.
function(quorel_test name)
  cmake_parse_arguments(T "" "COST" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # gtest_discover_tests flattens a list value, so each label is passed as its
  # own LABELS property entry or only the first would survive.
  set(props)
  foreach(label IN LISTS T_LABELS)
    list(APPEND props LABELS ${label})
  endforeach()
  if(T_COST)
    list(APPEND props COST ${T_COST})
  endif()
  gtest_discover_tests(${name} PROPERTIES ${props} DISCOVERY_TIMEOUT 120)
endfunction()

# quorel_bench(<name> SOURCES <file>... LIBS <lib>...)
function(quorel_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

# quorel_fuzz(<name> SOURCES <file>... LIBS <lib>... CORPUS <dir>... LABELS <label>...
#             [FIXTURE <fixture that writes generated seeds>] [OPTIONS <libFuzzer flag>...])
#
# A fuzz target over LLVMFuzzerTestOneInput. In a QUOREL_FUZZ build (clang)
# it is a libFuzzer executable and is listed for `make fuzz`, which runs it
# with OPTIONS (say, a per-input time limit and the input size that reaches
# the parser's limits); otherwise it is a replay executable and a CTest case
# runs it over its corpus, so the seeds and saved findings are checked by
# every test run.
function(quorel_fuzz name)
  cmake_parse_arguments(F "" "FIXTURE" "SOURCES;LIBS;CORPUS;LABELS;OPTIONS" ${ARGN})
  if(QUOREL_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    string(REPLACE ";" " " dirs "${F_CORPUS}")
    string(REPLACE ";" " " options "${F_OPTIONS}")
    file(APPEND ${QUOREL_FUZZ_LIST} "${name}|${options}|${dirs}\n")
  else()
    add_executable(${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/FuzzReplayMain.cpp)
    add_test(NAME ${name}_replay COMMAND ${name} ${F_CORPUS})
    set(props)
    foreach(label IN LISTS F_LABELS)
      list(APPEND props LABELS ${label})
    endforeach()
    if(F_FIXTURE)
      list(APPEND props FIXTURES_REQUIRED ${F_FIXTURE})
    endif()
    set_tests_properties(${name}_replay PROPERTIES ${props})
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()
