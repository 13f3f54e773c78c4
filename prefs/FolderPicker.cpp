#include "prefs/FolderPicker.h"
#include <QDir>
#include <QFileDialog>

namespace {
FolderPickerHook g_pickerHook;
}

void SetFolderPickerHook(FolderPickerHook hook) { g_pickerHook = std::move(hook); }

bool BrowseForFolder(QWidget* owner, const QString& title, QString* folder)
{
    if (!folder)
        return false;
    if (g_pickerHook)
        return g_pickerHook(owner, title, folder);

    // The picker runs its own modal loop and keeps the program's other windows blocked.
    // It starts in the home folder rather than the process's current folder (which the
    // profile listing moves into Profiles/), and nothing in it is selected.
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, title, QDir::homePath(), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return false;
    *folder = QDir::toNativeSeparators(chosen);
    return true;
}
