# The test programs only the Windows build has (the shared ones are in tests/CMakeLists.txt):
# the viewer's window, the driver's windows through the DLL, the DLL's export and import tables.

# handle_probe: the carried program whose inherited handles platform_test looks at;
# output_probe: one whose output and children the test sees the library through.
add_executable(handle_probe WIN32 windows/handle_probe.cpp)
add_executable(output_probe WIN32 windows/output_probe.cpp)
set_target_properties(handle_probe output_probe PROPERTIES
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_dependencies(platform_test handle_probe output_probe)

# The log viewer program under wine: its window found and read back by a test program. Wine
# creates windows only with a display: a virtual one, and a prefix of the test's own.
find_program(XVFB_RUN_PROGRAM xvfb-run)
velquora_test(viewer_window_test windows/viewer_window_test.cpp DEPENDS velquora-viewer DISPLAY)
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
velquora_test(windows_actions_e2e_test windows/windows_actions_e2e_test.cpp
  DEPENDS w_velquora velquora-viewer help_page_recorder SCALE DISPLAY)
target_compile_definitions(windows_actions_e2e_test PRIVATE VELQUORA_DRIVER_FILE="w_velquora.dll")
if(XVFB_RUN_PROGRAM AND VELQUORA_HOST_BIN)
  velquora_wine_display_test(windows_actions_e2e_test "${VELQUORA_HOST_BIN}")
else()
  message(STATUS "the Windows window actions test is skipped (needs xvfb-run and VELQUORA_HOST_BIN)")
endif()
