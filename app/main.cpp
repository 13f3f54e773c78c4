#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/StopSignals.h"
#include "app/VeltraneApplication.h"

int main(int argc, char** argv)
{
    // A session that ends (log-out, shut-down) or a Ctrl+C closes the main window the
    // ordinary way, so the preferences are written and a running job is asked about.
    CatchStopSignals();
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    // Ties the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.veltrane.Veltrane"));
    // Closing the main window ends the program even while a dialog is still shown.
    QApplication::setQuitOnLastWindowClosed(false);
    OnStopSignal(&app, [] {
        if (MainForm)
            MainForm->close();
    });

    StartOptions options;
    options.arguments = QApplication::arguments().mid(1);
    CreateForms(options);
    MainForm->show();
    const int rc = app.exec();
    DestroyForms();
    return rc;
}
