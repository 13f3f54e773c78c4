#include "app/MainForm.h"
void TMainForm::SetupRange() {}
void TMainForm::edtStartKeyPress(QChar) {}
void TMainForm::edtStartExit() {}
void TMainForm::edtEndKeyPress(QChar) {}
void TMainForm::edtEndExit() {}
void TMainForm::ApplyStartTime(double) {}
void TMainForm::ApplyEndTime(double) {}
void TMainForm::ShowRangeLength() {}
void TMainForm::PlaceStartMark() {}
void TMainForm::PlaceEndMark() {}
void TMainForm::sbtnSelStartClick() {}
void TMainForm::sbtnSelEndClick() {}
void TMainForm::sbtnEraseClick() {}
void TMainForm::edtSectionQtyClick() {}
