// veltrane-cli: the program's split jobs from the command line, with its preferences and
// output profiles. Qt Core only.
#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_interrupt[2] = {-1, -1};

void OnInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interrupt[1], &byte, 1);
}

// Ctrl+C, a terminal that goes away, or a polite kill: the byte written here is read from
// the event loop, which stops the job there (a signal handler may do next to nothing).
// The encoder runs in a process group of its own, so a terminal's Ctrl+C reaches only us.
bool CatchInterrupts()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_interrupt) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    return true;
}

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char** argv)
{
    const bool caught = CatchInterrupts();
    // A closed pipe on our output is no reason to leave an encoder's work half done.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane-cli"));
    // Numbers for the encoder are written with "." whatever the user's locale says.
    std::setlocale(LC_NUMERIC, "C");

    const CliParse parsed = ParseCliArguments(QCoreApplication::arguments());
    if (!parsed.options) {
        Print(parsed.exitStatus == 0 ? stdout : stderr, parsed.text);
        return parsed.exitStatus;
    }

    CliSession session(*parsed.options, caught ? g_interrupt[0] : -1);
    if (caught) {
        auto* notifier = new QSocketNotifier(g_interrupt[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &session, &CliSession::Interrupt);
    }
    return session.Run();
}
