#pragma once
#include <QString>
#include <functional>

class QWidget;

// Asks the user for a folder (folders only, none preselected). Returns true and the
// folder's full path when one was chosen; false, leaving *folder alone, when cancelled.
bool BrowseForFolder(QWidget* owner, const QString& title, QString* folder);

// Replaces the real picker (tests). The hook gets the same arguments and answers the same
// way; an empty hook restores the real picker.
using FolderPickerHook = std::function<bool(QWidget* owner, const QString& title, QString* folder)>;
void SetFolderPickerHook(FolderPickerHook hook);
