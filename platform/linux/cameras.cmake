# Cameras: V4L2 capture nodes and the virtual camera (part of tavolu_platform_linux).
pkg_check_modules(CAMERA_LIBS REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale
                  libturbojpeg)
find_library(YUV_LIBRARY yuv REQUIRED)
target_sources(tavolu_platform_linux PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/camera_frame_decoder.cc
  ${CMAKE_CURRENT_LIST_DIR}/linux_cameras.cc
  ${CMAKE_CURRENT_LIST_DIR}/v4l2_camera.cc
  ${CMAKE_CURRENT_LIST_DIR}/virtual_camera.cc
)
target_link_libraries(tavolu_platform_linux PUBLIC PkgConfig::CAMERA_LIBS ${YUV_LIBRARY})

add_executable(platform_linux_camera_test
  ${CMAKE_CURRENT_LIST_DIR}/camera_frame_decoder_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/linux_cameras_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/v4l2_camera_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/virtual_camera_test.cc
)
target_link_libraries(platform_linux_camera_test tavolu_platform_linux GTest::gtest_main)
gtest_discover_tests(platform_linux_camera_test)
