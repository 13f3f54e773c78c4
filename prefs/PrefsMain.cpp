#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "prefs/FolderPicker.h"
#include <QLineEdit>

// The main window's own Browse: picks the output folder for this session only; the
// preferences are not touched.
void TMainForm::bbtnBrowseClick()
{
    QString folder;
    if (BrowseForFolder(this, QStringLiteral("Select the output directory."), &folder))
        edtOutputDir->setText(WithTrailingBackslash(folder));
}
