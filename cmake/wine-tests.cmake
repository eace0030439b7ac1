# Tests that run the DLL for real under Wine, through scripts/wine-run (the
# project's prefix for this tree's architecture, the fresh DLL registered, a
# time limit on every call). The same tests run in the x86 and the x64 tree.
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run --arch ${LEDRA_ARCH})
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})

# A Unix path as Wine's Z: drive sees it.
function(wine_path out path)
  string(REPLACE "/" "\\" p "${path}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

# The VBScript hosts share tests/wine/check.vbs (Check, NoSpeed, NewSession,
# Finish). Wine's script host runs no .wsf job files, so each host is joined
# after it into one script here: build/<arch>/vbs/NAME.vbs.
set(VBS ${CMAKE_BINARY_DIR}/vbs)
file(READ ${CMAKE_SOURCE_DIR}/tests/wine/check.vbs vbs_check)
foreach(host host_session host_lookup data_source last_digits error_log)
  file(READ ${CMAKE_SOURCE_DIR}/tests/wine/${host}.vbs vbs_host)
  file(WRITE ${VBS}/${host}.vbs "${vbs_check}${vbs_host}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS tests/wine/${host}.vbs)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS tests/wine/check.vbs)

# cscript exits 0 on a script it cannot compile, silently: a script passes
# only when it says so at its end, and fails on any FAIL line.
function(add_vbs_test name script)
  wine_path(win ${script})
  add_test(NAME ${name} COMMAND ${WINE_RUN} cscript //nologo ${win} ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll" TIMEOUT 300
                       PASS_REGULAR_EXPRESSION "all passed" FAIL_REGULAR_EXPRESSION "FAIL ")
endfunction()

# A C++ host of the DLL: tests/wine/NAME.cpp with the interface's header and
# IDs, and the system libraries (more may follow the name).
function(add_wine_client name)
  add_executable(${name} tests/wine/${name}.cpp ${GEN}/plgLedraII_i.c)
  target_compile_definitions(${name} PRIVATE _WIN32_WINNT=0x0601)
  target_include_directories(${name} PRIVATE ${GEN} ${CMAKE_SOURCE_DIR}/src)
  add_dependencies(${name} typelib LedraII)
  target_link_libraries(${name} PRIVATE ole32 oleaut32 uuid user32 gdi32 advapi32 ${ARGN} ${LEDRA_STATIC_RUNTIME})
endfunction()

foreach(client early_bound late_bound)
  add_wine_client(${client})
  add_test(NAME ${client} COMMAND ${client})
  set_tests_properties(${client} PROPERTIES ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll" TIMEOUT 300)
endforeach()

add_vbs_test(host_session ${VBS}/host_session.vbs)
# The log's layout, and its fallback where c:\fen.log cannot be written
# (ledra.exe check names the file in use).
wine_path(LEDRA_EXE_WIN ${CMAKE_BINARY_DIR}/ledra.exe)
add_vbs_test(error_log ${VBS}/error_log.vbs ${LEDRA_EXE_WIN})

# Two processes logging at once, past the log's bound.
add_executable(log_race tests/wine/log_race.cpp)
target_link_libraries(log_race PRIVATE ledra_win32 oleaut32 ole32 advapi32 user32 version ${LEDRA_STATIC_RUNTIME})
add_test(NAME log_race COMMAND log_race)
set_tests_properties(log_race PROPERTIES TIMEOUT 300 PASS_REGULAR_EXPRESSION "all passed" FAIL_REGULAR_EXPRESSION "FAIL ")

add_test(NAME registration COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/registration.sh ${CMAKE_BINARY_DIR}/LedraII.dll)
set_tests_properties(registration PROPERTIES TIMEOUT 300)

# Tables of a sample company, written by the native generator (make test
# builds the native tree first).
set(LEDRA_NATIVE_DIR ${CMAKE_SOURCE_DIR}/build/native)
set(SAMPLE ${CMAKE_BINARY_DIR}/sample)
add_test(NAME sample_data COMMAND ${LEDRA_NATIVE_DIR}/ledra-sample --out ${SAMPLE} --prefix a_ --rows 300 --seed 3)
set_tests_properties(sample_data PROPERTIES FIXTURES_SETUP sample)

# The same company elsewhere, without the sample contacts: a folder to move from.
set(OTHER_SAMPLE ${CMAKE_BINARY_DIR}/other-sample)
add_test(NAME other_sample_data COMMAND ${LEDRA_NATIVE_DIR}/ledra-sample --out ${OTHER_SAMPLE} --prefix a_ --rows 50 --seed 5 --no-known)
set_tests_properties(other_sample_data PROPERTIES FIXTURES_SETUP sample)

wine_path(SAMPLE_WIN ${SAMPLE})
wine_path(OTHER_SAMPLE_WIN ${OTHER_SAMPLE})
add_vbs_test(data_source ${VBS}/data_source.vbs ${SAMPLE_WIN} ${OTHER_SAMPLE_WIN})
add_vbs_test(host_lookup ${VBS}/host_lookup.vbs ${SAMPLE_WIN})
add_test(NAME same_answers COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/same_answers.sh ${LEDRA_NATIVE_DIR}/ledra ${SAMPLE})
set_tests_properties(same_answers PROPERTIES TIMEOUT 300 ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll")
# Callers in international format with MatchLastDigits set by reg add.
add_test(NAME last_digits COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/last_digits.sh ${SAMPLE} ${VBS}/last_digits.vbs)
set_tests_properties(last_digits PROPERTIES TIMEOUT 300 ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll"
                     PASS_REGULAR_EXPRESSION "last digits: all passed" FAIL_REGULAR_EXPRESSION "FAIL ")
set_tests_properties(data_source host_lookup same_answers last_digits PROPERTIES FIXTURES_REQUIRED sample)

# ledra.exe on the real Win32 platform finds the same caller.
add_test(NAME ledra_exe COMMAND ${WINE_RUN} ${CMAKE_BINARY_DIR}/ledra.exe lookup "01234 567890" --dbfile ${SAMPLE_WIN}\\a_sname.dbf)
set_tests_properties(ledra_exe PROPERTIES FIXTURES_REQUIRED sample TIMEOUT 300 DEPENDS same_answers
                     PASS_REGULAR_EXPRESSION "Caller 01234 567890 is the supplier Acme Ltd")

# A large company, for a scan long enough to see the host's messages
# handled inside it.
set(LARGE_SAMPLE ${CMAKE_BINARY_DIR}/large-sample)
add_test(NAME large_sample_data COMMAND ${LEDRA_NATIVE_DIR}/ledra-sample --out ${LARGE_SAMPLE} --prefix a_ --rows 150000 --seed 11)
set_tests_properties(large_sample_data PROPERTIES FIXTURES_SETUP large_sample)
add_wine_client(yield_during_scan)
wine_path(LARGE_SAMPLE_WIN ${LARGE_SAMPLE})
add_test(NAME yield_during_scan COMMAND yield_during_scan ${LARGE_SAMPLE_WIN})
set_tests_properties(yield_during_scan PROPERTIES FIXTURES_REQUIRED large_sample TIMEOUT 300 DEPENDS ledra_exe
                     ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll")

# 2,000 calls and more in one host process: the handle count and private
# bytes stay flat, and an unfinished cache walk holds no table.
add_wine_client(leak_test)
add_test(NAME leak_test COMMAND leak_test ${SAMPLE_WIN})
set_tests_properties(leak_test PROPERTIES FIXTURES_REQUIRED sample TIMEOUT 300 DEPENDS ledra_exe
                     ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll"
                     PASS_REGULAR_EXPRESSION "handles and private bytes stayed flat" FAIL_REGULAR_EXPRESSION "FAIL ")

# One host process through several hundred changes of every kind the
# application makes to its customer table, each followed by lookups whose
# answer is known; another seed by hand: build/<arch>/table_soak ... --seed S.
set(SOAK_SAMPLE ${CMAKE_BINARY_DIR}/soak-sample)
add_test(NAME soak_sample_data COMMAND ${LEDRA_NATIVE_DIR}/ledra-sample --out ${SOAK_SAMPLE} --prefix a_ --rows 3000 --seed 13)
set_tests_properties(soak_sample_data PROPERTIES FIXTURES_SETUP soak_sample)
add_wine_client(table_soak)
wine_path(SOAK_SAMPLE_WIN ${SOAK_SAMPLE})
wine_path(SOAK_WORK_WIN ${CMAKE_BINARY_DIR}/soak-work)
add_test(NAME table_soak COMMAND table_soak ${SOAK_SAMPLE_WIN} ${SOAK_WORK_WIN} --changes 300 --seed 20261207)
set_tests_properties(table_soak PROPERTIES FIXTURES_REQUIRED soak_sample TIMEOUT 900 DEPENDS ledra_exe
                     ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll;WINE_RUN_TIMEOUT=840"
                     PASS_REGULAR_EXPRESSION "all passed" FAIL_REGULAR_EXPRESSION "FAIL ")

# What a host process reads in the background (scripts/bench-reads runs it).
add_executable(background_reads bench/background_reads.cpp ${GEN}/plgLedraII_i.c)
target_compile_definitions(background_reads PRIVATE _WIN32_WINNT=0x0601)
target_include_directories(background_reads PRIVATE ${GEN} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests/wine)
add_dependencies(background_reads typelib LedraII)
target_link_libraries(background_reads PRIVATE ole32 oleaut32 uuid user32 advapi32 ${LEDRA_STATIC_RUNTIME})

# The screen-pop against a stand-in accounting application, Ledra.exe in a
# folder of its own (the folder "PathToLedra" names when it is not running).
add_executable(ledra_standin tests/wine/ledra_standin.cpp)
set_target_properties(ledra_standin PROPERTIES OUTPUT_NAME Ledra RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin)
target_link_libraries(ledra_standin PRIVATE user32 ${LEDRA_STATIC_RUNTIME})
add_wine_client(screen_pop)
add_dependencies(screen_pop ledra_standin)
wine_path(STANDIN_WIN ${CMAKE_BINARY_DIR}/standin)
add_test(NAME screen_pop COMMAND screen_pop ${STANDIN_WIN})
set_tests_properties(screen_pop PROPERTIES TIMEOUT 300 PASS_REGULAR_EXPRESSION "all passed" FAIL_REGULAR_EXPRESSION "FAIL "
                     ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll;WINE_RUN_TIMEOUT=240")

# The settings dialogs driven from a second thread, the settings cycle into
# the sample company's folder, and a host with windows of its own whose
# messages arrive while a dialog is up; screenshots land in the tree's dialogs/.
add_wine_client(dialogs_driver)
add_test(NAME dialogs COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/dialogs.sh $<TARGET_FILE:dialogs_driver>
                              ${SAMPLE_WIN} ${CMAKE_BINARY_DIR}/dialogs)
set_tests_properties(dialogs PROPERTIES FIXTURES_REQUIRED sample TIMEOUT 300 PASS_REGULAR_EXPRESSION "all passed"
                     FAIL_REGULAR_EXPRESSION "FAIL " ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll")

# The Windows Installer package, installed, upgraded and removed in a fresh
# prefix of its own where regsvr32 never runs.
# The x64 run also installs the x86 tree's package beside its own.
set(x86_beside "")
if(LEDRA_ARCH STREQUAL x64)
  set(x86_beside ${CMAKE_SOURCE_DIR}/build/win32/LedraII-${PROJECT_VERSION}-x86.msi)
endif()
add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/package.sh ${LEDRA_MSI} ${LEDRA_NEXT_MSI}
         ${CMAKE_BINARY_DIR}/upgrade-test/package/LedraII.dll ${SAMPLE} ${VBS}/host_lookup.vbs ${x86_beside})
# Alone: it unregisters and registers the DLL in the shared prefix.
set_tests_properties(package PROPERTIES FIXTURES_REQUIRED sample TIMEOUT 1200 RUN_SERIAL TRUE
                     ENVIRONMENT "LEDRA_DLL=${CMAKE_BINARY_DIR}/LedraII.dll"
                     PASS_REGULAR_EXPRESSION "all passed" FAIL_REGULAR_EXPRESSION "FAIL ")
