#pragma once
#include <QString>
#include <functional>

class QWidget;

// The save-file dialog of the profile dialog. filter is in "description|pattern" form,
// defaultExt without the dot, folder the folder it opens in. Returns the chosen path
// (with the default extension added when the name has none), or empty when cancelled.
// It never asks before replacing a file. Replaceable for tests.
using SaveDialogHook = std::function<QString(QWidget* owner, const QString& filter, const QString& defaultExt,
                                             const QString& folder)>;
QString RunSaveDialog(QWidget* owner, const QString& filter, const QString& defaultExt, const QString& folder);
// An empty hook restores the real dialog.
void SetSaveDialogHook(SaveDialogHook hook);
