#include "app/MainForm.h"
void TMainForm::FillProfileList() {}
void TMainForm::cmbProfileChange() {}
void TMainForm::BitBtn1Click() {}
