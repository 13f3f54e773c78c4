veltrane_add_test(NAME tst_preview_player SOURCES preview_player.cpp)
veltrane_add_test(NAME tst_range_math SOURCES range_math.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_range_marks SOURCES range_marks.cpp)
# Typed fractions use the user's decimal separator: pin it for the suites.
set_property(TEST tst_range_marks APPEND PROPERTY ENVIRONMENT "LC_ALL=C.UTF-8")
veltrane_add_test(NAME tst_preview_frames SOURCES preview_frames.cpp)
veltrane_add_test(NAME tst_frame_picker SOURCES frame_picker.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_playback_clock SOURCES playback_clock.cpp CORE LABEL unit)
# The player engine itself, with a clock and a sound output the suite drives.
veltrane_add_test(NAME tst_preview_engine SOURCES preview_engine.cpp CORE)
target_link_libraries(tst_preview_engine PRIVATE veltrane_media_objects)
veltrane_add_test(NAME tst_timeline_data SOURCES timeline_data.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_timeline_media SOURCES timeline_media.cpp)
