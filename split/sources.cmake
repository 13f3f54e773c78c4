list(APPEND VT_GUI_SOURCES split/JobMain.cpp split/CountdownForm.cpp split/CountdownForm.h)
