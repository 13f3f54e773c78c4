#include "profiles/ProfileSaveDialog.h"
#include "app/Dialogs.h"
#include "app/PathUtils.h"
#include <QFileDialog>

namespace {
SaveDialogHook g_saveHook;
}

void SetSaveDialogHook(SaveDialogHook hook) { g_saveHook = std::move(hook); }

QString RunSaveDialog(QWidget* owner, const QString& filter, const QString& defaultExt, const QString& folder)
{
    QString path;
    if (g_saveHook) {
        path = g_saveHook(owner, filter, defaultExt, folder);
    } else {
        QFileDialog dlg(owner);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
        dlg.setNameFilter(QtNameFilters(filter));
        dlg.setDefaultSuffix(defaultExt);
        if (!folder.isEmpty())
            dlg.setDirectory(folder);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        path = dlg.selectedFiles().first();
    }
    if (!path.isEmpty() && !defaultExt.isEmpty() && ExtractExtension(path).isEmpty())
        path += QLatin1Char('.') + defaultExt;
    return path;
}
