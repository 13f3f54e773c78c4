veltrane_add_test(NAME tst_mainwindow SOURCES app_mainwindow.cpp)
# The position shown and moving about from the keyboard, on a clip with known key frames.
veltrane_add_test(NAME tst_app_navigation SOURCES app_navigation.cpp)
# The window without a mouse, screen readers, drops on any control, captions at two font
# sizes; a job run by the stand-in encoder for the double click on Split.
veltrane_add_test(NAME tst_app_keyboard SOURCES app_keyboard.cpp split_support.h)
target_compile_definitions(tst_app_keyboard PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_app_keyboard split_fake_encoder)
# One clip of each supported type: opened, played, cut through the real encoder.
veltrane_add_test(NAME tst_app_formats SOURCES app_formats.cpp split_support.h)
target_compile_definitions(tst_app_formats PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
set_tests_properties(tst_app_formats PROPERTIES TIMEOUT 900)
# The Tracks button: listed on opening, chosen per source, kept by the cut.
veltrane_add_test(NAME tst_app_tracks SOURCES app_tracks.cpp split_support.h)
target_compile_definitions(tst_app_tracks PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_app_tracks split_fake_encoder)
# Split points set with X and drawn on the track bar, Split at them and into the queue; the
# section mode values the window refuses.
veltrane_add_test(NAME tst_app_sections SOURCES app_sections.cpp split_support.h LABEL forms)
target_compile_definitions(tst_app_sections PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_app_sections split_fake_encoder)
