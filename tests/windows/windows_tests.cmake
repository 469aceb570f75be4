# The Windows build's tests, run under wine (the test programs are Windows programs; CTest starts
# them through CMAKE_CROSSCOMPILING_EMULATOR). The wine prefix lives in the build folder.
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

add_library(velquora_testsupport STATIC support/temp_dir.cpp support/log_tail.cpp support/xml_tree.cpp
  support/loopback_peer.cpp support/test_addin_library.cpp)
target_include_directories(velquora_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(velquora_testsupport PRIVATE VELQUORA_BIN_DIR="${PROJECT_BINARY_DIR}/bin")
target_link_libraries(velquora_testsupport PUBLIC velquora_hostkit GTest::gtest PkgConfig::EXPAT ws2_32)

# The test add-in DLL: test component classes on the real frame, loaded through the host kit's
# MSVC-layout bridge as the driver DLL is.
velquora_embed_resources(${CMAKE_CURRENT_BINARY_DIR}/test_addin_resources.cpp
  "Actions=${PROJECT_SOURCE_DIR}/resources/Actions.xml"
  "strings=${PROJECT_SOURCE_DIR}/resources/strings.txt")
add_library(test_addin SHARED support/test_addin.cpp ${CMAKE_CURRENT_BINARY_DIR}/test_addin_resources.cpp)
target_link_libraries(test_addin PRIVATE velquora_driver)
velquora_addin_library(test_addin)

function(velquora_windows_test name)
  add_executable(${name} ${ARGN} ${CMAKE_CURRENT_BINARY_DIR}/no_resources.cpp)
  target_link_libraries(${name} PRIVATE velquora_testsupport GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VELQUORA_BIN_DIR="${PROJECT_BINARY_DIR}/bin" VELQUORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endfunction()

# Runs a test program under wine, bounded in time, beside a Linux emulator it can reach.
function(velquora_wine_test name)
  add_test(NAME ${name}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/run_under_wine.sh
                   ${CMAKE_CROSSCOMPILING_EMULATOR} "${VELQUORA_HOST_BIN}" $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${wine_env}" FIXTURES_REQUIRED wine
                                          TIMEOUT ${wine_test_limit}
                                          FAIL_REGULAR_EXPRESSION "${wine_crash_report}")
endfunction()

velquora_embed_resources(${CMAKE_CURRENT_BINARY_DIR}/no_resources.cpp)

# The seams' Windows side: rights of the log folder, the version resource, name look-ups.
# handle_probe: the carried program whose inherited handles the platform test looks at;
# output_probe: one whose output and children the test sees the library through.
add_executable(handle_probe WIN32 windows/handle_probe.cpp)
add_executable(output_probe WIN32 windows/output_probe.cpp)
set_target_properties(handle_probe output_probe PROPERTIES
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
velquora_windows_test(windows_platform_test windows/windows_platform_test.cpp
                      platform/portable_seams_test.cpp)
target_link_libraries(windows_platform_test PRIVATE velquora_log)
target_compile_definitions(windows_platform_test PRIVATE VELQUORA_VERSION="${PROJECT_VERSION}")
add_dependencies(windows_platform_test w_velquora handle_probe output_probe)
velquora_wine_test(windows_platform_test)

# The portable unit suites (the POSIX-only cases live in files the Linux build alone compiles).
# valid_utf8_test is part of the Linux platform_test, whose other files are POSIX-only.
velquora_windows_test(common_test common/decimal_text_test.cpp common/valid_utf8_test.cpp)
target_link_libraries(common_test PRIVATE velquora_platform)
velquora_wine_test(common_test)

velquora_windows_test(help_test help/renderer_test.cpp)
target_link_libraries(help_test PRIVATE velquora_help)
velquora_wine_test(help_test)

# Without file modes, links, flock, the file size limit and forked writers; with a file held
# open without sharing, Windows' own way of keeping writers out.
velquora_windows_test(log_test log/log_writer_test.cpp log/log_writer_win_test.cpp
                      log/log_viewer_model_test.cpp)
target_link_libraries(log_test PRIVATE velquora_log)
velquora_wine_test(log_test)

velquora_windows_test(frame_test addin/frame_test.cpp addin/layout_test.cpp addin/variant_test.cpp
                      addin/registry_test.cpp)
target_link_libraries(frame_test PRIVATE velquora_addin)
add_dependencies(frame_test test_addin)
velquora_wine_test(frame_test)

# The scale for the system-settings case is the Linux emulator (VELQUORA_HOST_BIN).
velquora_windows_test(framework_test driver/framework_test.cpp driver/utilities_test.cpp
                      driver/system_settings_test.cpp driver/upload_progress_test.cpp
                      driver/driver_library_test.cpp driver/host_document_test.cpp
                      driver/xml_writer_test.cpp e2e/remote_scale.cpp)
target_include_directories(framework_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/emulator)
target_link_libraries(framework_test PRIVATE velquora_driver nlohmann_json::nlohmann_json)
add_dependencies(framework_test test_addin w_velquora)
if(VELQUORA_HOST_BIN)
  velquora_wine_test(framework_test)
endif()

# The table operations against the Linux emulator (VELQUORA_HOST_BIN); without the emulator's
# own housekeeping test and the C library's CP866 converter.
velquora_windows_test(device_test device/encoding_test.cpp device/records_test.cpp
                      device/transport_test.cpp device/device_emulator_test.cpp e2e/remote_scale.cpp)
target_include_directories(device_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/emulator)
target_link_libraries(device_test PRIVATE velquora_device nlohmann_json::nlohmann_json)
if(VELQUORA_HOST_BIN)
  velquora_wine_test(device_test)
endif()

# The driver DLL through a host laid out as MSVC lays it out, against the Linux emulator.
velquora_windows_test(driver_e2e_test e2e/driver_e2e_test.cpp e2e/upload_e2e_test.cpp
                      e2e/remote_scale.cpp windows/windows_e2e_test.cpp)
target_include_directories(driver_e2e_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/emulator)
target_link_libraries(driver_e2e_test PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(driver_e2e_test PRIVATE VELQUORA_DRIVER_FILE="w_velquora.dll"
                                                   VELQUORA_VERSION="${PROJECT_VERSION}")
add_dependencies(driver_e2e_test w_velquora)
if(VELQUORA_HOST_BIN)
  velquora_wine_test(driver_e2e_test)
else()
  message(STATUS "VELQUORA_HOST_BIN not set: the Windows end-to-end suite (it needs the Linux "
                 "scale-emulator) is not registered")
endif()

# The log viewer program under wine: its window found and read back by a test program. Wine
# creates windows only with a display: a virtual one, and a prefix of the test's own.
find_program(XVFB_RUN_PROGRAM xvfb-run)
velquora_windows_test(viewer_window_test windows/viewer_window_test.cpp)
add_dependencies(viewer_window_test velquora-viewer)
if(XVFB_RUN_PROGRAM)
  # Both window tests share the display prefix, one at a time (each ends its server).
  function(velquora_wine_display_test name host_bin)
    add_test(NAME ${name}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/run_with_display.sh
                     ${CMAKE_CROSSCOMPILING_EMULATOR} ${WINESERVER_PROGRAM} "${host_bin}"
                     $<TARGET_FILE:${name}>)
    # No server kept from before the display: the server and the prefix's desktop process must
    # start on it. Nor wine's menu builder, which starts that desktop process at some point of
    # its own: the session's first window starts it, as the window actions test needs.
    set(display_env ${wine_env})
    list(FILTER display_env EXCLUDE REGEX
         "^(DISPLAY|WINEPREFIX|WINEDLLOVERRIDES|VELQUORA_WINESERVER_STAYS|VELQUORA_WINE_LIMIT)=")
    list(APPEND display_env WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix-display
                WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
                VELQUORA_WINE_LIMIT=${wine_display_limit})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${display_env}"
                                            TIMEOUT ${wine_display_test_limit}
                                            RESOURCE_LOCK wine-prefix-display
                                            FAIL_REGULAR_EXPRESSION "${wine_crash_report}")
  endfunction()
  velquora_wine_display_test(viewer_window_test "")
else()
  message(STATUS "the Windows viewer window test is skipped (needs xvfb-run)")
endif()

# Exactly the three entry points, undecorated, and only system libraries imported.
add_test(NAME exports_test
         COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:w_velquora> -DOBJDUMP=${CMAKE_OBJDUMP}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/dll_exports_check.cmake)

# The driver's windows through the DLL on a virtual display: the help handed to a stand-in
# browser registered for .html files, the log viewer found, read and closed from the test; the
# viewer program itself started as the library starts it, to see what keeps its error output.
add_executable(help_page_recorder WIN32 windows/help_page_recorder.cpp)
set_target_properties(help_page_recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
velquora_windows_test(windows_actions_e2e_test e2e/remote_scale.cpp windows/windows_actions_e2e_test.cpp)
target_include_directories(windows_actions_e2e_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/emulator)
target_link_libraries(windows_actions_e2e_test PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(windows_actions_e2e_test PRIVATE VELQUORA_DRIVER_FILE="w_velquora.dll")
add_dependencies(windows_actions_e2e_test w_velquora velquora-viewer help_page_recorder)
if(XVFB_RUN_PROGRAM AND VELQUORA_HOST_BIN)
  velquora_wine_display_test(windows_actions_e2e_test "${VELQUORA_HOST_BIN}")
else()
  message(STATUS "the Windows window actions test is skipped (needs xvfb-run and VELQUORA_HOST_BIN)")
endif()
