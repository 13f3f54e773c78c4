veltrane_add_test(NAME tst_window_stack SOURCES window_stack.cpp LABEL forms)
# The window's frame: smallest size, resizing with the picture's shape kept, full screen,
# its place kept, focus drawn, Enter in the dialogs. A screen large enough to resize on.
veltrane_add_test(NAME tst_window_frame SOURCES app_window_frame.cpp)
set_property(TEST tst_window_frame APPEND PROPERTY ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/offscreen-1600x1000.json")
