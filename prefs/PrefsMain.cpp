#include "app/MainForm.h"
void TMainForm::bbtnBrowseClick() {}
