#include "profiles/OutputSettingsForm.h"
#include "profiles/ValueListEditor.h"
#include <QComboBox>
TopSettingForm::TopSettingForm(QWidget* parent) : QWidget(parent, Qt::Dialog) {
    setWindowTitle("Profile");
    cmbProfile = new QComboBox(this);
    vleVideo = new TValueListEditor(this);
    vleAudio = new TValueListEditor(this);
    vleAdvanced = new TValueListEditor(this);
}
void TopSettingForm::LoadProfile(const QString&) {}
TValueListEditor* TopSettingForm::GridForSort(int sort) const {
    return sort == 1 ? vleVideo : sort == 2 ? vleAudio : sort == 3 ? vleAdvanced : nullptr;
}
