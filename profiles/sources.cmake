list(APPEND VT_CORE_SOURCES profiles/IniFile.cpp profiles/IniFile.h)
list(APPEND VT_GUI_SOURCES
  profiles/ProfileMain.cpp
  profiles/OutputSettingsForm.cpp profiles/OutputSettingsForm.h
  profiles/CustomSizeForm.cpp profiles/CustomSizeForm.h
  profiles/ValueListEditor.cpp profiles/ValueListEditor.h)
