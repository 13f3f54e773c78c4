veltrane_add_test(NAME tst_mainwindow SOURCES app_mainwindow.cpp)
