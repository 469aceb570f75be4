# How the Windows build runs its test programs: under wine (they are Windows programs; CTest
# starts them through CMAKE_CROSSCOMPILING_EMULATOR), in one prefix that lives in the build
# folder. Included by tests/CMakeLists.txt before the programs are defined.
# VELQUORA_HOST_BIN names the Linux build's bin folder, whose scale-emulator the end-to-end suite
# reaches over 127.0.0.1.
set(VELQUORA_HOST_BIN "" CACHE PATH "bin folder of a Linux build (for its scale-emulator)")
set(wine_prefix ${PROJECT_BINARY_DIR}/wine-prefix)
set(wine_env WINEPREFIX=${wine_prefix} WINELOADER=${CMAKE_CROSSCOMPILING_EMULATOR} WINEDEBUG=-all
             WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "X86")
  # 32-bit programs run in the emulated root of scripts/win32-root.sh: CTest itself runs in its
  # `session`, wine and its server through wrappers that enter the root. One server stays for
  # the whole run (starting one costs seconds there). Compute is about five times slower than
  # under wine64, hence the wider bounds.
  set(WINESERVER_PROGRAM ${CMAKE_CURRENT_SOURCE_DIR}/windows/wineserver32.sh)
  list(APPEND wine_env WINEARCH=win32 VELQUORA_WINESERVER_STAYS=1)
  set(wine_program_limit 1500)
  set(wine_display_limit 600)
else()
  find_program(WINESERVER_PROGRAM NAMES wineserver PATHS /usr/lib/wine)
  set(wine_program_limit 480)
  set(wine_display_limit 240)
endif()
list(APPEND wine_env VELQUORA_WINE_LIMIT=${wine_program_limit})
math(EXPR wine_test_limit "${wine_program_limit} + 120")
math(EXPR wine_display_test_limit "${wine_display_limit} + 60")
# A program that dies of an unhandled exception does not always exit non-zero under wine (seen
# under the 32-bit emulation): wine's crash report fails the test whatever the exit code.
set(wine_crash_report "wine: Unhandled")

# One prefix for all programs, made before any of them starts and its server stopped after the
# last: nothing of wine outlives the run.
add_test(NAME wine_prefix
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_prefix.sh start ${CMAKE_CROSSCOMPILING_EMULATOR}
                 ${WINESERVER_PROGRAM})
add_test(NAME wine_server_stop
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_prefix.sh stop ${CMAKE_CROSSCOMPILING_EMULATOR}
                 ${WINESERVER_PROGRAM})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}"
                                             TIMEOUT ${wine_test_limit})
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_env}"
                                                 TIMEOUT 60)

# Runs a test program under wine, bounded in time, beside a Linux emulator it can reach.
function(velquora_wine_test name)
  add_test(NAME ${name}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/run_under_wine.sh
                   ${CMAKE_CROSSCOMPILING_EMULATOR} "${VELQUORA_HOST_BIN}" $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${wine_env}" FIXTURES_REQUIRED wine
                                          TIMEOUT ${wine_test_limit}
                                          FAIL_REGULAR_EXPRESSION "${wine_crash_report}")
endfunction()
