list(APPEND VT_GUI_SOURCES prefs/PrefsMain.cpp prefs/SettingsForm.cpp prefs/SettingsForm.h)
