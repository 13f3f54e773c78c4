#pragma once
#include "app/WindowHelpers.h"
#include <QString>
#include <QStringList>

class TMainForm;
class TSettingForm;
class TCountDownForm;
class TAboutForm;
class TopSettingForm;
class TSizeForm;
class TQueueForm;
class AppState;
class QWidget;

// The program's windows, each created once, in this order, and alive until the end. Only
// this file and the main window know them all; a dialog knows none of the others, and
// hears from and talks to them through the application state and its own signals, which
// CreateForms connects.
extern TMainForm* MainForm;
extern TSettingForm* SettingForm;
extern TCountDownForm* CountDownForm;
extern TAboutForm* AboutForm;
extern TopSettingForm* opSettingForm;
extern TSizeForm* SizeForm;
extern TQueueForm* QueueForm;

struct StartOptions {
    QString appDir;        // empty: the executable's folder
    QStringList arguments; // the program's arguments, without the program name
};

void CreateForms(const StartOptions& options);
void DestroyForms();

// What the windows share; alive from CreateForms to DestroyForms.
AppState* SharedState();
