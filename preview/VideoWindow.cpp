#include "preview/VideoWindow.h"
TVideoWindow::TVideoWindow(QWidget* parent) : QVideoWidget(parent) {}
