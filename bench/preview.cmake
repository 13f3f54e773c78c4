# Opening a long source in the preview: time to its length and to its first frame.
add_executable(bench_preview ${CMAKE_CURRENT_SOURCE_DIR}/preview_bench.cpp)
target_link_libraries(bench_preview PRIVATE vt_testsupport)
add_dependencies(bench_preview veltrane app_files)
set_target_properties(bench_preview PROPERTIES EXCLUDE_FROM_ALL TRUE)
