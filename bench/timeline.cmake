# The timeline's reading of a long 1080p source against ffmpeg decoding its key frames.
add_executable(bench_timeline ${CMAKE_CURRENT_SOURCE_DIR}/timeline_bench.cpp)
target_link_libraries(bench_timeline PRIVATE vt_testsupport veltrane_warnings)
add_dependencies(bench_timeline veltrane_media)
set_target_properties(bench_timeline PROPERTIES EXCLUDE_FROM_ALL TRUE)
