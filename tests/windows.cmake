veltrane_add_test(NAME tst_window_stack SOURCES window_stack.cpp LABEL forms)
