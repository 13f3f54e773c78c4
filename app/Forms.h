#pragma once
#include <QString>
#include <QStringList>

class TMainForm;
class TSettingForm;
class TCountDownForm;
class TAboutForm;
class TopSettingForm;
class TSizeForm;
class QWidget;

// The program's windows, each created once, in this order, and alive until the end.
extern TMainForm* MainForm;
extern TSettingForm* SettingForm;
extern TCountDownForm* CountDownForm;
extern TAboutForm* AboutForm;
extern TopSettingForm* opSettingForm;
extern TSizeForm* SizeForm;

struct StartOptions {
    QString appDir;        // empty: the executable's folder
    QStringList arguments; // the program's arguments, without the program name
};

void CreateForms(const StartOptions& options);
void DestroyForms();

// Dialogs that keep the main window disabled while they are shown. The main window is
// enabled again only when the last of them has closed, so closing one dialog never frees
// the main window under another (the countdown, for instance).
void DisableMainFormFor(QWidget* dialog);
void EnableMainFormAfter(QWidget* dialog);

// Centre a dialog over the main window (or the screen when there is none).
void CentreOverMainForm(QWidget* dialog);
