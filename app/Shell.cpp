#include "app/Shell.h"
#include "app/Dialogs.h"
#include "app/PathUtils.h"
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {
ShellOpener g_opener;

bool IsWebAddress(const QString& target) { return target.contains(QLatin1String("://")); }
} // namespace

void SetShellOpener(ShellOpener opener) { g_opener = std::move(opener); }

QString ShellOpenFailureText(const QString& target)
{
    if (IsWebAddress(target))
        return QStringLiteral("No web browser could be started to open %1.").arg(target);
    const QString shown = QDir::toNativeSeparators(target);
    if (FolderExists(target))
        return QStringLiteral("No file manager could be started to open the folder \"%1\".").arg(shown);
    return QStringLiteral("No program could be started to open \"%1\".").arg(shown);
}

bool ShellOpen(const QString& target)
{
    bool started = false;
    if (g_opener) {
        started = g_opener(target);
    } else {
        // Web addresses go to the browser; anything else is a local file or folder.
        const QUrl url = IsWebAddress(target) ? QUrl(target) : QUrl::fromLocalFile(target);
        started = QDesktopServices::openUrl(url);
    }
    if (!started)
        ShowMessage(QApplication::activeWindow(), MsgIcon::Information, ApplicationTitle(),
                    ShellOpenFailureText(target));
    return started;
}
