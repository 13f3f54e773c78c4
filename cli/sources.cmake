# veltrane-cli: the split jobs from the command line. The core library only, so it runs
# without a display and loads neither Qt Widgets nor Qt Multimedia.
add_executable(veltrane-cli
  cli/main.cpp
  cli/CliOptions.cpp cli/CliOptions.h
  cli/CliSession.cpp cli/CliSession.h
  cli/CliReport.cpp cli/CliReport.h)
target_link_libraries(veltrane-cli PRIVATE veltrane_core)
target_compile_definitions(veltrane-cli PRIVATE VT_VERSION="${PROJECT_VERSION}")
target_compile_options(veltrane-cli PRIVATE -Wall -Wextra)
