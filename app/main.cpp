#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/VeltraneApplication.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTermination(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// A session that ends (log-out, shut-down) or a Ctrl+C asks the program to stop: the main
// window is closed the ordinary way, so the preferences are written and a running job is
// asked about, instead of the process dying with everything unsaved. The signals are caught
// from the first moment; a request that comes before the window exists waits for it.
bool CatchTermination()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
    return true;
}

void CloseOnTermination(QObject* owner)
{
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (MainForm)
            MainForm->close();
    });
}

} // namespace

int main(int argc, char** argv)
{
    const bool caught = CatchTermination();
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    // Ties the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.veltrane.Veltrane"));
    // Closing the main window ends the program even while a dialog is still shown.
    QApplication::setQuitOnLastWindowClosed(false);
    if (caught)
        CloseOnTermination(&app);

    StartOptions options;
    options.arguments = QApplication::arguments().mid(1);
    CreateForms(options);
    MainForm->show();
    const int rc = app.exec();
    DestroyForms();
    return rc;
}
