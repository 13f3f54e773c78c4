#include "split/PowerOff.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
PowerOffHook g_powerOffHook;
}

void SetPowerOffHook(PowerOffHook hook) { g_powerOffHook = std::move(hook); }

void PowerOff()
{
    if (g_powerOffHook) {
        g_powerOffHook();
        return;
    }
    // systemd-logind decides whether this user may power off; not interactive, so a
    // refusal simply leaves everything running. Sent without waiting for an answer, so a
    // busy or missing system bus cannot hang the window.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected())
        bus.send(call);
}
