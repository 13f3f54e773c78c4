# Reading settings files: a whole profile, and single reads from a large file.
add_executable(bench_core ${CMAKE_CURRENT_SOURCE_DIR}/core_bench.cpp)
target_link_libraries(bench_core PRIVATE veltrane_core veltrane_warnings)
target_compile_definitions(bench_core PRIVATE VT_PROFILES_DIR="${CMAKE_SOURCE_DIR}/assets/Profiles/")
set_target_properties(bench_core PROPERTIES EXCLUDE_FROM_ALL TRUE)

# Start-up of the real program with a 100 MB profile against the shipped one (needs Xvfb
# and xdotool).
add_executable(bench_startup ${CMAKE_CURRENT_SOURCE_DIR}/core_startup_bench.cpp)
target_link_libraries(bench_startup PRIVATE Qt6::Core veltrane_warnings)
target_compile_definitions(bench_startup PRIVATE VT_APP_DIR="${VT_APP_DIR}/" VT_PROFILES_DIR="${CMAKE_SOURCE_DIR}/assets/Profiles/")
add_dependencies(bench_startup veltrane app_files)
set_target_properties(bench_startup PROPERTIES EXCLUDE_FROM_ALL TRUE)
