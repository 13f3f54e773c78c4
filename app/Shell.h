#pragma once
#include <QString>
#include <functional>

// Asks the desktop to "open" a file, folder or web address. Replaceable so tests never
// start a browser or a file manager.
using ShellOpener = std::function<void(const QString& target)>;
void ShellOpen(const QString& target);
void SetShellOpener(ShellOpener opener); // empty: the real desktop
