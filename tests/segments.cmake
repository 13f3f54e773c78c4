# Segments: the list and its files (core library only), and real cuts joined by the encoder.
veltrane_add_test(NAME tst_segments_list SOURCES segments_list.cpp CORE LABEL unit)
