#include "split/PowerOff.h"

#include <QDBusConnection>
#include <QDBusInterface>

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
    // systemd-logind decides whether this user may power off (polkit); not interactive,
    // so a refusal simply leaves everything running.
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
    if (manager.isValid())
        manager.asyncCall(QStringLiteral("PowerOff"), false);
}
