# The deliverable: LedraII.dll, an in-process COM server with its type library
# and version information embedded, plus the Wine-run tests. One source gives
# both architectures: the toolchain file picks x86 (i686) or x64 (x86_64).
enable_language(RC)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LEDRA_ARCH x64)
  set(WIDL_TARGET --win64)
else()
  set(LEDRA_ARCH x86)
  set(WIDL_TARGET --win32)
endif()
set(LEDRA_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
if(NOT EXISTS ${LEDRA_IDL_DIR}/oaidl.idl)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-idl ${LEDRA_IDL_DIR} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not obtain oaidl.idl for widl")
  endif()
endif()
find_program(WIDL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-widl widl REQUIRED)
# The type library imports stdole2; any architecture's copy describes it.
find_file(STDOLE2_TLB stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
                /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(STDOLE2_DIR ${STDOLE2_TLB} DIRECTORY)

set(GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GEN})
add_custom_command(
  OUTPUT ${GEN}/plgLedraII.tlb ${GEN}/plgLedraII.h ${GEN}/plgLedraII_i.c
  # widl writes its clock's time into the type library.
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/at-commit-time
          ${WIDL} ${WIDL_TARGET} -I ${LEDRA_IDL_DIR} -L ${STDOLE2_DIR} -t -o ${GEN}/plgLedraII.tlb ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMAND ${WIDL} ${WIDL_TARGET} -I ${LEDRA_IDL_DIR} -h -H ${GEN}/plgLedraII.h ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMAND ${WIDL} ${WIDL_TARGET} -I ${LEDRA_IDL_DIR} -u -U ${GEN}/plgLedraII_i.c ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMENT "Compiling the type library")
add_custom_target(typelib DEPENDS ${GEN}/plgLedraII.tlb ${GEN}/plgLedraII.h ${GEN}/plgLedraII_i.c)

set(LEDRA_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
# Warnings are errors in the Windows builds: a truncated handle or pointer
# shows up as one in the x64 build.
set(LEDRA_WARNINGS -Wall -Wextra -Werror)
target_compile_options(ledra_core PRIVATE ${LEDRA_WARNINGS})

file(GLOB LEDRA_WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_library(ledra_win32 STATIC ${LEDRA_WIN32_SOURCES})
target_link_libraries(ledra_win32 PUBLIC ledra_core)
target_compile_options(ledra_win32 PRIVATE ${LEDRA_WARNINGS})
target_compile_definitions(ledra_win32 PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)
# The dialogs: tab control, file picker, theme check.
target_link_libraries(ledra_win32 PUBLIC comctl32 comdlg32 uxtheme)

file(GLOB LEDRA_COM_SOURCES CONFIGURE_DEPENDS src/com/*.cpp)
add_library(LedraII SHARED ${LEDRA_COM_SOURCES} ${GEN}/plgLedraII_i.c
            src/com/LedraII.rc src/com/LedraII.def)
add_dependencies(LedraII typelib)
target_compile_options(LedraII PRIVATE ${LEDRA_WARNINGS})
set_source_files_properties(src/com/LedraII.rc PROPERTIES OBJECT_DEPENDS ${GEN}/plgLedraII.tlb)
set_target_properties(LedraII PROPERTIES PREFIX "" OUTPUT_NAME LedraII)
target_include_directories(LedraII PRIVATE ${GEN} src)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${GEN}")
# The version resource from the project's one version number, its text as
# the library has always written it: 2.0.0.12 is "2.00.0012".
math(EXPR ledra_revision "${PROJECT_VERSION_PATCH} * 1000 + ${PROJECT_VERSION_TWEAK}")
string(LENGTH "${PROJECT_VERSION_MINOR}" n)
math(EXPR n "2 - ${n}")
string(REPEAT "0" ${n} minor_pad)
string(LENGTH "${ledra_revision}" n)
math(EXPR n "4 - ${n}")
string(REPEAT "0" ${n} revision_pad)
file(WRITE ${GEN}/ledra_version.h
     "#define LEDRA_VERSION_BINARY ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}\n"
     "#define LEDRA_VERSION_TEXT \"${PROJECT_VERSION_MAJOR}.${minor_pad}${PROJECT_VERSION_MINOR}.${revision_pad}${ledra_revision}\"\n")
target_link_libraries(LedraII PRIVATE ledra_win32 oleaut32 ole32 uuid advapi32 user32 version comctl32 comdlg32
                      ${LEDRA_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)

# A signed release file less its signature is the file the build made: its
# length and checksum are set as a signature's removal leaves them.
add_custom_command(TARGET LedraII POST_BUILD COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/pe-seal $<TARGET_FILE:LedraII>)

add_executable(ledra_exe tools/ledra.cpp tools/main_win32.cpp)
target_include_directories(ledra_exe PRIVATE ${CMAKE_SOURCE_DIR})
set_target_properties(ledra_exe PROPERTIES OUTPUT_NAME ledra)
target_compile_options(ledra_exe PRIVATE ${LEDRA_WARNINGS})
target_link_libraries(ledra_exe PRIVATE ledra_win32 oleaut32 ole32 advapi32 user32 version shell32 ${LEDRA_STATIC_RUNTIME})
add_custom_command(TARGET ledra_exe POST_BUILD COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/pe-seal $<TARGET_FILE:ledra_exe>)

include(cmake/msi.cmake)
include(cmake/wine-tests.cmake)
# The test scripts call wine-run themselves: tell them this tree's architecture.
get_property(LEDRA_WINE_TESTS DIRECTORY PROPERTY TESTS)
set_property(TEST ${LEDRA_WINE_TESTS} APPEND PROPERTY ENVIRONMENT LEDRA_ARCH=${LEDRA_ARCH})
