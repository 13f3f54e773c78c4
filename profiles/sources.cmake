list(APPEND VT_CORE_SOURCES
  profiles/IniFile.cpp profiles/IniFile.h
  profiles/ProfileFormat.cpp profiles/ProfileFormat.h)
list(APPEND VT_GUI_SOURCES
  profiles/ProfileMain.cpp
  profiles/ProfileSaveDialog.cpp profiles/ProfileSaveDialog.h
  profiles/OutputSettingsForm.cpp profiles/OutputSettingsForm.h
  profiles/CustomSizeForm.cpp profiles/CustomSizeForm.h
  profiles/ValueListEditor.cpp profiles/ValueListEditor.h)
