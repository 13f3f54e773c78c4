#pragma once
#include <QString>
#include <functional>

// Asks the desktop to "open" a file, folder or web address. Replaceable so tests never
// start a browser or a file manager; the opener tells whether a program was started.
using ShellOpener = std::function<bool(const QString& target)>;
// When no program can be started, says so in a message naming the target; returns
// whether one was.
bool ShellOpen(const QString& target);
void SetShellOpener(ShellOpener opener); // empty: the real desktop
// The message shown when nothing could be started for the target.
QString ShellOpenFailureText(const QString& target);
