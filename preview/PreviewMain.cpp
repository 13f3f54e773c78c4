#include "app/MainForm.h"
void TMainForm::SetupPreview() {}
void TMainForm::LoadSourceIntoPreview(const QString&) {}
void TMainForm::sbtnPlayPreviewClick() {}
void TMainForm::sbtnPausePreviewClick() {}
void TMainForm::sbtnStopPreviewClick() {}
void TMainForm::tkbProgressTimer(QObject*, quint32, quint32) {}
void TMainForm::tmrPreviewTimer() {}
