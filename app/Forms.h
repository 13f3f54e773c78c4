#pragma once
#include <QString>
#include <QStringList>

class TMainForm;
class TSettingForm;
class TCountDownForm;
class TAboutForm;
class TopSettingForm;
class TSizeForm;

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

// Centre a dialog over the main window (or the screen when there is none).
class QWidget;
void CentreOverMainForm(QWidget* dialog);
