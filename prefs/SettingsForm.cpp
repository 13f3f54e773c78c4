#include "prefs/SettingsForm.h"
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
TSettingForm::TSettingForm(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle("Settings");
    chkPreview = new QCheckBox(this); chkOverwrite = new QCheckBox(this); chkoutputdir = new QCheckBox(this);
    edtOutputDir = new QLineEdit(this); bbtnBrowse = new QPushButton(this); chkOpenDir = new QCheckBox(this);
    chkExit = new QCheckBox(this); chkTurnoff = new QCheckBox(this); btnDefault = new QPushButton(this);
    btnOK = new QPushButton(this); btnCancel = new QPushButton(this);
}
void TSettingForm::ReadPreferences(bool) {}
void TSettingForm::WritePreferences() {}
