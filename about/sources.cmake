list(APPEND VT_CORE_SOURCES about/ProgramInfo.cpp about/ProgramInfo.h)
list(APPEND VT_GUI_SOURCES about/AboutForm.cpp about/AboutForm.h)
