list(APPEND VT_CORE_SOURCES
  split/CommandLine.cpp split/CommandLine.h
  split/JobPlan.cpp split/JobPlan.h
  split/CutPoints.cpp split/CutPoints.h
  split/SourceProbe.cpp split/SourceProbe.h
  split/TrackList.cpp split/TrackList.h
  split/EncoderRun.cpp split/EncoderRun.h
  split/OutputFile.cpp split/OutputFile.h
  split/SplitJob.cpp split/SplitJob.h)
list(APPEND VT_GUI_SOURCES
  split/JobMain.cpp
  split/CountdownForm.cpp split/CountdownForm.h
  split/PowerOff.cpp split/PowerOff.h)
