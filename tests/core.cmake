veltrane_add_test(NAME tst_core_timecode SOURCES core_timecode.cpp CORE)
