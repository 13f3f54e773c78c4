list(APPEND VT_CORE_SOURCES
  prefs/PreferencesStore.cpp prefs/PreferencesStore.h)
list(APPEND VT_GUI_SOURCES
  prefs/FolderPicker.cpp prefs/FolderPicker.h
  prefs/PrefsMain.cpp
  prefs/SettingsForm.cpp prefs/SettingsForm.h)
