# The deliverable: LedraII.dll, a 32-bit in-process COM server with its type
enable_language(RC)
# library and version information embedded, plus the Wine-run tests.
set(LEDRA_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
if(NOT EXISTS ${LEDRA_IDL_DIR}/oaidl.idl)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-idl ${LEDRA_IDL_DIR} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not obtain oaidl.idl for widl")
  endif()
endif()
find_program(WIDL NAMES i686-w64-mingw32-widl widl REQUIRED)
find_file(STDOLE2_TLB stdole2.tlb PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
get_filename_component(STDOLE2_DIR ${STDOLE2_TLB} DIRECTORY)

set(GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GEN})
add_custom_command(
  OUTPUT ${GEN}/plgLedraII.tlb ${GEN}/plgLedraII.h ${GEN}/plgLedraII_i.c
  COMMAND ${WIDL} --win32 -I ${LEDRA_IDL_DIR} -L ${STDOLE2_DIR} -t -o ${GEN}/plgLedraII.tlb ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMAND ${WIDL} --win32 -I ${LEDRA_IDL_DIR} -h -H ${GEN}/plgLedraII.h ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMAND ${WIDL} --win32 -I ${LEDRA_IDL_DIR} -u -U ${GEN}/plgLedraII_i.c ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/src/com/plgLedraII.idl
  COMMENT "Compiling the type library")
add_custom_target(typelib DEPENDS ${GEN}/plgLedraII.tlb ${GEN}/plgLedraII.h ${GEN}/plgLedraII_i.c)

set(LEDRA_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
target_compile_options(ledra_core PRIVATE -Wall -Wextra)

file(GLOB LEDRA_WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_library(ledra_win32 STATIC ${LEDRA_WIN32_SOURCES})
target_link_libraries(ledra_win32 PUBLIC ledra_core)
target_compile_definitions(ledra_win32 PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)
# The dialogs: tab control, file picker, theme check.
target_link_libraries(ledra_win32 PUBLIC comctl32 comdlg32 uxtheme)

file(GLOB LEDRA_COM_SOURCES CONFIGURE_DEPENDS src/com/*.cpp)
add_library(LedraII SHARED ${LEDRA_COM_SOURCES} ${GEN}/plgLedraII_i.c
            src/com/LedraII.rc src/com/LedraII.def)
add_dependencies(LedraII typelib)
set_source_files_properties(src/com/LedraII.rc PROPERTIES OBJECT_DEPENDS ${GEN}/plgLedraII.tlb)
set_target_properties(LedraII PROPERTIES PREFIX "" OUTPUT_NAME LedraII)
target_include_directories(LedraII PRIVATE ${GEN} src)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${GEN}")
target_link_libraries(LedraII PRIVATE ledra_win32 oleaut32 ole32 uuid advapi32 user32 version comctl32 comdlg32
                      ${LEDRA_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)

add_executable(ledra_exe src/tool/ledra.cpp src/tool/main_win32.cpp)
set_target_properties(ledra_exe PROPERTIES OUTPUT_NAME ledra)
target_link_libraries(ledra_exe PRIVATE ledra_win32 oleaut32 ole32 advapi32 user32 version shell32 ${LEDRA_STATIC_RUNTIME})

include(cmake/wine-tests.cmake)
