# Native Linux build: the core with the invariant platform, the unit tests
# (GoogleTest, with sanitizers) and the command-line tool.
option(LEDRA_SANITIZE "Build the native tests with address and undefined-behaviour sanitizers" ON)
if(LEDRA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
# ledra_core was declared before the options above; give it them as well.
if(LEDRA_SANITIZE)
  target_compile_options(ledra_core PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
endif()

file(GLOB LEDRA_NATIVE_SOURCES CONFIGURE_DEPENDS src/platform/native/*.cpp)
add_library(ledra_native STATIC ${LEDRA_NATIVE_SOURCES})
target_link_libraries(ledra_native PUBLIC ledra_core)

# The dBase writer and the sample company tables, for the demo, the tests
# (which build their tables with the same writer) and the benchmark.
add_library(ledra_sample STATIC tools/sample_tables.cpp tools/dbf_writer.cpp)
# tools/ sits beside src/: its headers are included as "tools/NAME.h".
target_include_directories(ledra_sample PUBLIC src ${CMAKE_SOURCE_DIR})
target_compile_options(ledra_sample PRIVATE -Wall -Wextra)

# The fuzz targets and the thread stress test live in trees of their own,
# which build nothing else.
option(LEDRA_FUZZ "Build the fuzz targets (clang's libFuzzer)" OFF)
option(LEDRA_TSAN "Build the thread stress test under ThreadSanitizer" OFF)
if(LEDRA_FUZZ OR LEDRA_TSAN)
  include(cmake/reliability.cmake)
  return()
endif()

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB LEDRA_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp tests/fakes/*.cpp)
add_executable(unit_tests ${LEDRA_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE ledra_native GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

# The x86 test VM's image cache: rebuilt when its package list or script
# changes (a stand-in builder, no VM started).
add_test(NAME x86vm_image_cache COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/x86vm-check image)
# Every folder leans only on the floors below it; no source file is too long.
add_test(NAME layers COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/check-layers)
set_tests_properties(x86vm_image_cache PROPERTIES TIMEOUT 60
                     PASS_REGULAR_EXPRESSION "x86vm-check: all passed" FAIL_REGULAR_EXPRESSION "FAIL ")

add_executable(ledra tools/ledra.cpp tools/main_native.cpp)
target_include_directories(ledra PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(ledra PRIVATE ledra_native)

target_link_libraries(unit_tests PRIVATE ledra_sample)

add_executable(ledra-sample tools/main_sample.cpp)
target_link_libraries(ledra-sample PRIVATE ledra_sample ledra_native)

# Timings of the search and the cache walk over large tables. Off by
# default: the sanitizers of the normal native build would make the figures
# meaningless, so it is built in its own tree with LEDRA_SANITIZE=OFF.
option(LEDRA_BENCH "Build the ledra_bench benchmark (Google Benchmark)" OFF)
if(LEDRA_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(ledra_bench bench/ledra_bench.cpp bench/bench_env.cpp bench/key_cache_table.cpp)
  target_include_directories(ledra_bench PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(ledra_bench PRIVATE ledra_sample ledra_native benchmark::benchmark)
endif()
target_sources(unit_tests PRIVATE tools/ledra.cpp)
