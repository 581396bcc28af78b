# Camera preview benchmark (bench/capture/run-preview-bench).
add_executable(capture_preview_bench ${CMAKE_CURRENT_LIST_DIR}/preview_bench.cc)
target_link_libraries(capture_preview_bench capture_preview)
