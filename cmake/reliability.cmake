# Reliability builds, each in its own tree (see the Makefile):
#   LEDRA_FUZZ  clang, libFuzzer with address and undefined-behaviour
#               sanitizers; targets under fuzz/, run by scripts/fuzz-run.
#   LEDRA_TSAN  ThreadSanitizer; the thread stress test only.
if(LEDRA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "the fuzz targets need clang (CMAKE_CXX_COMPILER=clang++-14)")
  endif()
  # Any undefined behaviour stops the run, so that the input is kept.
  set(LEDRA_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  foreach(lib ledra_core ledra_native ledra_sample)
    target_compile_options(${lib} PRIVATE ${LEDRA_FUZZ_FLAGS})
  endforeach()
  set(LEDRA_FUZZERS vars dbf query search)
  add_custom_target(fuzzers)
  foreach(name ${LEDRA_FUZZERS})
    add_executable(${name}_fuzz fuzz/${name}_fuzz.cpp)
    target_include_directories(${name}_fuzz PRIVATE fuzz tests)
    target_compile_options(${name}_fuzz PRIVATE ${LEDRA_FUZZ_FLAGS})
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name}_fuzz PRIVATE ledra_sample ledra_native)
    add_dependencies(fuzzers ${name}_fuzz)
    # A short run over the seeds and any saved crasher: a fault found once
    # stays fixed.
    add_test(NAME fuzz_${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz-run ${CMAKE_BINARY_DIR} ${name} 15)
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 120)
  endforeach()
endif()

if(LEDRA_TSAN)
  set(LEDRA_TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  foreach(lib ledra_core ledra_native ledra_sample)
    target_compile_options(${lib} PRIVATE ${LEDRA_TSAN_FLAGS})
  endforeach()
  add_executable(stress_test tests/stress/stress_test.cpp)
  target_include_directories(stress_test PRIVATE tests)
  target_compile_options(stress_test PRIVATE ${LEDRA_TSAN_FLAGS})
  target_link_options(stress_test PRIVATE -fsanitize=thread)
  find_package(Threads REQUIRED)
  target_link_libraries(stress_test PRIVATE ledra_sample ledra_native Threads::Threads)
  add_test(NAME stress_threads COMMAND stress_test)
  set_tests_properties(stress_threads PROPERTIES TIMEOUT 300 ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 exitcode=66")
endif()
