# The Win32 window under Wine on a virtual X display: key messages and clicks in the real
# controls, against the engine this test program carries inside itself. The program
# carries the tool's resources too (icon, version record, manifest).
add_executable(win32_window_tests
    ${CMAKE_CURRENT_LIST_DIR}/win32_window_test.cpp
    ${PROJECT_SOURCE_DIR}/app/resources/pingtool.rc
)
target_link_libraries(win32_window_tests PRIVATE pingtool_window test_support GTest::gtest
                      GTest::gtest_main version ws2_32)
corvane_warnings(win32_window_tests)
corvane_embed_engine(win32_window_tests)
# xvfb-run around the Wine runner, with a Wine prefix of the test's own (see the script).
add_test(NAME win32_window_tests
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/win32_gui_test.sh ${CMAKE_BINARY_DIR}/wine-gui
                 $<TARGET_FILE:win32_window_tests>)
set_tests_properties(win32_window_tests PROPERTIES TIMEOUT 300)
