#pragma once
#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can see and answer them.
enum class MsgIcon { None, Information, Question, Error };
// OkOpenFolder: OK (the default) and "Open Folder", which answers OpenFolder.
enum class MsgButtons { Ok, YesNo, OkOpenFolder };
enum class MsgResult { Ok, Yes, No, OpenFolder };

struct MessageRequest {
    QWidget* owner = nullptr;
    MsgIcon icon = MsgIcon::None;
    QString caption;
    QString text;
    MsgButtons buttons = MsgButtons::Ok;
};

using MessageHook = std::function<MsgResult(const MessageRequest&)>;

MsgResult ShowMessage(QWidget* owner, MsgIcon icon, const QString& caption, const QString& text,
                      MsgButtons buttons = MsgButtons::Ok);
// Replace the real box (tests); an empty hook restores it.
void SetMessageHook(MessageHook hook);

// The application title: the caption of the standard error box (set once at start).
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The program's standard error box: application title, error icon, OK, and the text
// with "." appended when its last character sorts after ".".
QString ErrorBoxText(const QString& text);
void ShowErrorBox(const QString& text);

// Runs fn and shows any error that escapes it in the standard error box.
void RunGuarded(const std::function<void()>& fn);

// The open-file dialog. filter is in "description|pattern|..." form. Returns the chosen
// path, or empty when the user cancels. Replaceable for tests.
using OpenDialogHook = std::function<QString(QWidget* owner, const QString& filter)>;
QString RunOpenDialog(QWidget* owner, const QString& filter);
void SetOpenDialogHook(OpenDialogHook hook);
// Converts a "description|pattern|..." filter into Qt's name filters.
QString QtNameFilters(const QString& filter);
