list(APPEND VT_GUI_SOURCES
  preview/PreviewMain.cpp
  preview/FilterGraph.cpp preview/FilterGraph.h
  preview/VideoWindow.cpp preview/VideoWindow.h
  preview/DSTrackBar.cpp preview/DSTrackBar.h)
