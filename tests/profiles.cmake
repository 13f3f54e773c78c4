veltrane_add_test(NAME tst_profiles_format SOURCES profiles_format.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_profiles_dialog SOURCES profiles_dialog.cpp LABEL forms)
veltrane_add_test(NAME tst_profiles_shipped SOURCES profiles_shipped.cpp)
