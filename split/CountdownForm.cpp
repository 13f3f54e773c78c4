#include "split/CountdownForm.h"
TCountDownForm::TCountDownForm(QWidget* parent) : QWidget(parent, Qt::Dialog) { setWindowTitle("Countdown"); }
