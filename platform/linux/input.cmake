# Input on X11: pointer, buttons, keys, cursor image and keyboard layout (part of
# tavolu_platform_linux).
pkg_check_modules(X11_INPUT_LIBS REQUIRED IMPORTED_TARGET xcb xcb-xfixes xkbcommon xkbcommon-x11)
target_sources(tavolu_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/x11_input.cc)
target_link_libraries(tavolu_platform_linux PUBLIC PkgConfig::X11_INPUT_LIBS)

add_executable(platform_linux_input_test ${CMAKE_CURRENT_LIST_DIR}/x11_input_test.cc)
target_link_libraries(platform_linux_input_test tavolu_platform_linux tavolu_test_support
                      GTest::gtest_main)
gtest_discover_tests(platform_linux_input_test)
