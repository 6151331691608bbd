# The Windows build's own tests, run under Wine through the cross-compiling emulator.

# The PE mapper on the real corvane20.dll from this program's resource, against the
# system loader on the same file beside the program.
corvane_test(engine_dll_tests component/engine_dll_test.cpp)
target_link_libraries(engine_dll_tests PRIVATE crvcore_loader corvaneplat)
corvane_embed_engine(engine_dll_tests)
corvane_engine_beside(engine_dll_tests)

# The console mode end to end under Wine: the program carries the engine, no DLL file of
# it lies beside the program.
add_test(NAME console_tests
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/console_test.sh $<TARGET_FILE:pingtool>)
set_tests_properties(console_tests PROPERTIES
    ENVIRONMENT CONSOLE_TEST_RUNNER=${PROJECT_SOURCE_DIR}/scripts/wine-run
    TIMEOUT 120)

# The Win32 window under Wine on a virtual display.
include(app/win32_window.cmake)
