list(APPEND VT_CORE_SOURCES
  app/TimeCode.cpp app/TimeCode.h
  app/PathUtils.cpp app/PathUtils.h
  app/StopSignals.cpp app/StopSignals.h
  app/AppPaths.cpp app/AppPaths.h
  app/VtError.h)
list(APPEND VT_GUI_SOURCES
  app/Dialogs.cpp app/Dialogs.h
  app/Shell.cpp app/Shell.h
  app/VeltraneApplication.cpp app/VeltraneApplication.h
  app/ImageControl.cpp app/ImageControl.h
  app/Forms.cpp app/Forms.h
  app/MainForm.cpp app/MainForm.h
  app/MarkedRange.cpp
  app/MainInput.cpp)
