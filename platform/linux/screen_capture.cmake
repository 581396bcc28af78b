# Screen capture on X11 and audio capture from PulseAudio (part of tavolu_platform_linux).
pkg_check_modules(SCREEN_CAPTURE_LIBS REQUIRED IMPORTED_TARGET xcb xcb-shm xcb-xfixes xcb-damage
                  xcb-composite libpulse)
find_library(YUV_LIBRARY yuv REQUIRED)
target_sources(tavolu_platform_linux PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/audio_clock.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_compositing.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_geometry.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_status_tracker.cc
  ${CMAKE_CURRENT_LIST_DIR}/pulse_audio_capture.cc
  ${CMAKE_CURRENT_LIST_DIR}/pulse_devices.cc
  ${CMAKE_CURRENT_LIST_DIR}/x11_frame_source.cc
  ${CMAKE_CURRENT_LIST_DIR}/x11_screen_capture.cc
  ${CMAKE_CURRENT_LIST_DIR}/x11_screen_stream.cc
)
target_link_libraries(tavolu_platform_linux PUBLIC PkgConfig::SCREEN_CAPTURE_LIBS ${YUV_LIBRARY})

# Frame status, queue limit, geometry, compositing, pacing and audio stamps.
add_executable(platform_linux_screen_logic_test
  ${CMAKE_CURRENT_LIST_DIR}/audio_clock_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_compositing_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_geometry_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_pacer_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_queue_limit_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/frame_status_tracker_test.cc
)
target_link_libraries(platform_linux_screen_logic_test tavolu_platform_linux GTest::gtest_main)
gtest_discover_tests(platform_linux_screen_logic_test)

# Against the X server of the test run (skipped without one). They move the pointer, grab it
# and read the screen, so they take the display lock the other X tests take.
add_executable(platform_linux_screen_capture_test
  ${CMAKE_CURRENT_LIST_DIR}/x11_screen_stream_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/x11_screen_capture_test.cc
)
target_link_libraries(platform_linux_screen_capture_test tavolu_platform_linux tavolu_test_support
                      GTest::gtest_main)
gtest_discover_tests(platform_linux_screen_capture_test PROPERTIES RESOURCE_LOCK x_display
                     TIMEOUT 60)

# Against the sound server of the test run (skipped without one).
add_executable(platform_linux_audio_capture_test
  ${CMAKE_CURRENT_LIST_DIR}/pulse_audio_capture_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/pulse_devices_test.cc
)
target_link_libraries(platform_linux_audio_capture_test tavolu_platform_linux tavolu_test_support
                      GTest::gtest_main)
gtest_discover_tests(platform_linux_audio_capture_test PROPERTIES TIMEOUT 60)
