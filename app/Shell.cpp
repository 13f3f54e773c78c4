#include "app/Shell.h"
#include <QDesktopServices>
#include <QUrl>

namespace {
ShellOpener g_opener;
}

void SetShellOpener(ShellOpener opener) { g_opener = std::move(opener); }

void ShellOpen(const QString& target)
{
    if (g_opener) {
        g_opener(target);
        return;
    }
    // Web addresses go to the browser; anything else is a local file or folder.
    const QUrl url = target.contains(QLatin1String("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url); // the result is not examined
}
