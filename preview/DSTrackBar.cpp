#include "preview/DSTrackBar.h"
TDSTrackBar::TDSTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) { setRange(0, 10); }
