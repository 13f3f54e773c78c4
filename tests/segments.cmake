# Segments: the list and its files (core library only), and real cuts joined by the encoder.
veltrane_add_test(NAME tst_segments_list SOURCES segments_list.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_segments_join SOURCES segments_join.cpp CORE LABEL media)
set_tests_properties(tst_segments_join PROPERTIES TIMEOUT 900)
veltrane_add_test(NAME tst_segments_panel SOURCES segments_panel.cpp LABEL forms)
