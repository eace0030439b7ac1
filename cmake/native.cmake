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

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB LEDRA_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp tests/fakes/*.cpp)
add_executable(unit_tests ${LEDRA_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE ledra_native GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
