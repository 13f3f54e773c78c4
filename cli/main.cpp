// veltrane-cli: the program's split jobs from the command line, with its preferences and
// output profiles. Qt Core only.
#include "app/StopSignals.h"
#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>

#include <clocale>
#include <csignal>
#include <cstdio>

namespace {

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char** argv)
{
    // The encoder runs in a process group of its own, so a terminal's Ctrl+C reaches only us.
    const bool caught = CatchStopSignals();
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

    CliSession session(*parsed.options, caught ? StopSignalFd() : -1);
    OnStopSignal(&session, [&session] { session.Interrupt(); });
    QMetaObject::invokeMethod(&session, &CliSession::Start, Qt::QueuedConnection);
    return app.exec();
}
