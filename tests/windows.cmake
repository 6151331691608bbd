# The Windows build's tests, run under Wine through the cross-compiling emulator.
# GoogleTest comes as Debian's sources, built here with the cross compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(test_support STATIC support/system.cpp support/test_hosts.cpp support/utf.cpp)
target_include_directories(test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(test_support PUBLIC ws2_32)
corvane_warnings(test_support)

function(corvane_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE test_support GTest::gtest GTest::gtest_main)
    corvane_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

corvane_test(app_tests
    app/is_valid_ipv4_test.cpp
    app/unit1_test.cpp
)
target_link_libraries(app_tests PRIVATE pingtool_logic)

corvane_test(platform_tests platform/codepage_test.cpp)
target_link_libraries(platform_tests PRIVATE corvaneplat)

corvane_test(engine_unit_tests
    engine/completion_rule_test.cpp
    engine/config_item_test.cpp
    engine/echo_matching_test.cpp
    engine/event_delivery_test.cpp
    engine/icmp_reading_test.cpp
    engine/scripted_socket.cpp
    engine/text_buffer_test.cpp
    engine/text_converter_test.cpp
    engine/wait_pump_test.cpp
)
target_link_libraries(engine_unit_tests PRIVATE corvane_engine)
target_compile_options(engine_unit_tests PRIVATE -fno-rtti)

corvane_test(entry_point_tests
    entry_points/config_test.cpp
    entry_points/echo_support.cpp
    entry_points/echo_test.cpp
    entry_points/engine_module.cpp
    entry_points/errors_test.cpp
    entry_points/methods_test.cpp
    entry_points/properties_test.cpp
    entry_points/strings_test.cpp
)
target_link_libraries(entry_point_tests PRIVATE corvaneplat)
# The system loader finds the module in the program's own folder.
target_compile_definitions(entry_point_tests PRIVATE CORVANE_ENGINE_PATH="corvane20.dll")
add_custom_command(TARGET entry_point_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:corvane20>
            $<TARGET_FILE_DIR:entry_point_tests>/corvane20.dll)
add_dependencies(entry_point_tests corvane20)

corvane_test(component_fake_tests component/crvping_fake_test.cpp)
target_link_libraries(component_fake_tests PRIVATE crvping)

corvane_test(component_engine_tests component/crvping_real_test.cpp)
target_link_libraries(component_engine_tests PRIVATE crvping)
corvane_embed_engine(component_engine_tests)

add_library(pe_test_images STATIC component/pe_builder.cpp component/pe_sample.cpp)
target_include_directories(pe_test_images PUBLIC ${PROJECT_SOURCE_DIR})
corvane_warnings(pe_test_images)
corvane_test(pe_image_tests component/pe_image_test.cpp)
target_link_libraries(pe_image_tests PRIVATE crvcore_loader corvaneplat pe_test_images)

# The PE mapper on the real corvane20.dll from this program's resource, against the
# system loader on the same file beside the program.
corvane_test(engine_dll_tests component/engine_dll_test.cpp)
target_link_libraries(engine_dll_tests PRIVATE crvcore_loader corvaneplat)
corvane_embed_engine(engine_dll_tests)
add_custom_command(TARGET engine_dll_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:corvane20>
            $<TARGET_FILE_DIR:engine_dll_tests>/corvane20.dll)

# The console mode end to end under Wine: the program carries the engine, no DLL file of
# it lies beside the program.
add_test(NAME console_tests
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/console_test.sh $<TARGET_FILE:pingtool>)
set_tests_properties(console_tests PROPERTIES
    ENVIRONMENT CONSOLE_TEST_RUNNER=${PROJECT_SOURCE_DIR}/scripts/wine-run
    TIMEOUT 120)

# The Win32 window under Wine on a virtual display.
include(app/win32_window.cmake)
