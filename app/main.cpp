#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/VeltraneApplication.h"

int main(int argc, char** argv)
{
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    // Closing the main window ends the program even while a dialog is still shown.
    QApplication::setQuitOnLastWindowClosed(false);

    StartOptions options;
    options.arguments = QApplication::arguments().mid(1);
    CreateForms(options);
    MainForm->show();
    const int rc = app.exec();
    DestroyForms();
    return rc;
}
