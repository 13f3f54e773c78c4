# Reading settings files: a whole profile, and single reads from a large file.
add_executable(bench_core ${CMAKE_CURRENT_SOURCE_DIR}/core_bench.cpp)
target_link_libraries(bench_core PRIVATE veltrane_core)
target_compile_definitions(bench_core PRIVATE VT_PROFILES_DIR="${CMAKE_SOURCE_DIR}/assets/Profiles/")
set_target_properties(bench_core PROPERTIES EXCLUDE_FROM_ALL TRUE)
