#include "about/AboutForm.h"
TAboutForm::TAboutForm(QWidget* parent) : QWidget(parent, Qt::Dialog) { setWindowTitle("About"); }
