# Split jobs against ffmpeg alone, and deep sections against early ones.
add_executable(bench_split ${CMAKE_CURRENT_SOURCE_DIR}/split_bench.cpp)
target_link_libraries(bench_split PRIVATE vt_testsupport veltrane_warnings)
add_dependencies(bench_split wmaspi app_files)
set_target_properties(bench_split PROPERTIES EXCLUDE_FROM_ALL TRUE)
