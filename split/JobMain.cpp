#include "app/MainForm.h"
void TMainForm::SetupJob() {}
void TMainForm::imgStartClick() {}
void TMainForm::RunSplitJob(const QString&) {}
void TMainForm::LockForJob() {}
void TMainForm::UnlockAfterJob() {}
void TMainForm::StopEncoder() {}
void TMainForm::tmrProcessTimer() {}
void TMainForm::imgCancelClick() {}
void TMainForm::Completion() {}
