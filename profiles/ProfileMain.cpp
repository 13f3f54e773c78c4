// The main window's profile list: filled once at start, its selection loads a profile
// into the profile dialog's grids, and "Detail" shows that dialog.
#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "app/VtError.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include <QComboBox>

void TMainForm::FillProfileList()
{
    const QString folder = Paths.profilesDir;
    if (!FolderExists(folder))
        throw EVeltraneError(
            QStringLiteral("Unable to list the profiles: the folder %1 does not exist").arg(folder));
    const QStringList files = ListFilesByExtension(folder, QStringLiteral(".apf"));
    State.profileNames.clear();
    for (const QString& name : files)
        State.profileNames << StripExtension(name);
    cmbProfile->addItems(State.profileNames);
    // Which profile is selected is the Settings dialog's business.
    cmbProfile->setCurrentIndex(-1);
}

void TMainForm::cmbProfileChange()
{
    const QString path = ProfilePath(Paths.profileRoot, cmbProfile->currentText());
    if (opSettingForm && SourceExists(path))
        opSettingForm->LoadProfile(path);
}

void TMainForm::BitBtn1Click()
{
    if (opSettingForm)
        opSettingForm->ShowForProfile(cmbProfile->currentIndex());
}
