# Video sink benchmark (bench/capture/run-sinks-bench).
add_executable(capture_sinks_bench ${CMAKE_CURRENT_LIST_DIR}/sinks_bench.cc)
target_link_libraries(capture_sinks_bench capture_sinks)
