#include "app/StopSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_socket[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_socket[1], &byte, 1);
}

} // namespace

bool CatchStopSignals()
{
    if (g_socket[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_socket) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    return true;
}

int StopSignalFd()
{
    return g_socket[0];
}

bool TakeStopSignals()
{
    if (g_socket[0] < 0)
        return false;
    bool any = false;
    char buf[64];
    while (::read(g_socket[0], buf, sizeof buf) > 0)
        any = true;
    return any;
}

void OnStopSignal(QObject* owner, std::function<void()> onStop)
{
    if (g_socket[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(g_socket[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onStop = std::move(onStop)] {
        if (TakeStopSignals())
            onStop();
    });
}
