# Preferences and the Settings dialog.
veltrane_add_test(NAME tst_prefs_settings SOURCES prefs_settings.cpp)
