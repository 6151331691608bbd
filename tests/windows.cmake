# The Windows build's tests, run under Wine through the cross-compiling emulator.
# GoogleTest comes as Debian's sources, built here with the cross compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(test_support STATIC support/test_hosts.cpp support/utf.cpp)
target_include_directories(test_support PUBLIC ${PROJECT_SOURCE_DIR})
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
