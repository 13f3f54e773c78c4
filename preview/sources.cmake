list(APPEND VT_CORE_SOURCES
  preview/RangeMath.cpp preview/RangeMath.h
  preview/FramePicker.cpp preview/FramePicker.h
  preview/PlaybackClock.cpp preview/PlaybackClock.h)
list(APPEND VT_GUI_SOURCES
  preview/PreviewMain.cpp
  preview/FilterGraph.cpp preview/FilterGraph.h
  preview/MediaEngine.h preview/MediaModule.cpp
  preview/VideoWindow.cpp preview/VideoWindow.h
  preview/DSTrackBar.cpp preview/DSTrackBar.h)
# The engine module sits where the encoder does, and is found from the program's folder.
set_property(SOURCE preview/MediaModule.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  VT_BIN_TO_LIBEXEC="${VT_BIN_TO_LIBEXEC}")

# The player engine: FFmpeg's libraries and the sound output, in a module of its own that
# the program loads when the first source opens, so a start without a source never maps
# the decoders.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VT_FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libswresample libavutil)
# Its own code as objects: the module links them, and so does the suite that drives the
# engine with a clock and a sound output of its own.
add_library(veltrane_media_objects OBJECT
  preview/engine/PlayerEngine.cpp preview/engine/PlayerEngine.h
  preview/engine/Session.cpp preview/engine/Session.h
  preview/engine/AudioOutput.cpp preview/engine/AudioOutput.h
  preview/MediaEngine.h)
target_include_directories(veltrane_media_objects PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(veltrane_media_objects PUBLIC Qt6::Core Qt6::Gui Qt6::Multimedia PkgConfig::VT_FFMPEG)
target_compile_options(veltrane_media_objects PRIVATE -Wall -Wextra)
set_target_properties(veltrane_media_objects PROPERTIES POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
add_library(veltrane_media MODULE
  preview/FramePicker.cpp preview/FramePicker.h
  preview/PlaybackClock.cpp preview/PlaybackClock.h)
target_link_libraries(veltrane_media PRIVATE veltrane_media_objects)
target_compile_options(veltrane_media PRIVATE -Wall -Wextra)
set_target_properties(veltrane_media PROPERTIES PREFIX "" OUTPUT_NAME "veltrane-media"
  LIBRARY_OUTPUT_DIRECTORY ${VT_APP_DIR} CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
install(TARGETS veltrane_media LIBRARY DESTINATION ${VT_INSTALL_LIBEXECDIR})
# Whatever links the forms runs the engine: build it first.
cmake_language(DEFER CALL add_dependencies veltrane_gui veltrane_media)
