# The preview against ffplay and ffmpeg: start, memory, seeking, frame steps, opening.
find_package(X11 COMPONENTS xcb)
if(X11_xcb_FOUND)
  add_executable(bench_preview ${CMAKE_CURRENT_SOURCE_DIR}/preview_bench.cpp)
  target_link_libraries(bench_preview PRIVATE vt_testsupport X11::xcb Qt6::Multimedia veltrane_warnings)
  add_dependencies(bench_preview veltrane app_files)
  set_target_properties(bench_preview PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
