list(APPEND VT_CORE_SOURCES
  preview/RangeMath.cpp preview/RangeMath.h)
list(APPEND VT_GUI_SOURCES
  preview/PreviewMain.cpp
  preview/FilterGraph.cpp preview/FilterGraph.h
  preview/VideoWindow.cpp preview/VideoWindow.h
  preview/DSTrackBar.cpp preview/DSTrackBar.h)
