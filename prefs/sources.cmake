list(APPEND VT_GUI_SOURCES
  prefs/FolderPicker.cpp prefs/FolderPicker.h
  prefs/PrefsMain.cpp
  prefs/SettingsForm.cpp prefs/SettingsForm.h)
