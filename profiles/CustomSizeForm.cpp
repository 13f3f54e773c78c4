#include "profiles/CustomSizeForm.h"
TSizeForm::TSizeForm(QWidget* parent) : QWidget(parent, Qt::Dialog) { setWindowTitle("Video Size of output files"); }
