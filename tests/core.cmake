veltrane_add_test(NAME tst_core_timecode SOURCES core_timecode.cpp CORE)
veltrane_add_test(NAME tst_core_inifile SOURCES core_inifile.cpp CORE)
veltrane_add_test(NAME tst_core_about SOURCES core_about.cpp)
