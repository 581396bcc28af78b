# Screen stream benchmark (bench/capture/run-screen-stream-bench).
add_executable(capture_screen_stream_bench ${CMAKE_CURRENT_LIST_DIR}/screen_stream_bench.cc)
target_link_libraries(capture_screen_stream_bench tavolu_platform_linux)
