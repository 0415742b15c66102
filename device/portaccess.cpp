#include "portaccess.h"

#include "manageserialport.h"
#include "settings.h"

namespace Device {

QString configuredPort()
{
    return Settings().value(SettingsKey::comPort).toString();
}

bool openPort(ManageSerialPort &port, const QString &name)
{
    Settings settings;
    port.setTimeoutBase(settings.intValue(SettingsKey::timeoutBase, 30));
    port.setWatchedPort(settings.value(SettingsKey::comPort).toString());
    return port.openPort(name);
}

bool reopenConfiguredPort(ManageSerialPort &port)
{
    const QString name = configuredPort();
    if (name.isEmpty())
        return false;
    port.closePort();
    return openPort(port, name);
}

QString openFailureReason(const QString &systemReason)
{
    const QString r = systemReason.toLower();
    // Qt reports a port locked by another program as a "permission error while locking".
    if (r.contains(QLatin1String("locking")) || r.contains(QLatin1String("busy")) || r.contains(QLatin1String("already open")))
        return QStringLiteral("busy");
    if (r.contains(QLatin1String("permission")))
        return QStringLiteral("permission");
    if (r.contains(QLatin1String("no such")) || r.contains(QLatin1String("not found")) || r.contains(QLatin1String("not exist")))
        return QStringLiteral("gone");
    if (r.contains(QLatin1String("ioctl")) || r.contains(QLatin1String("not a typewriter")))
        return QStringLiteral("not_serial");
    return QStringLiteral("other");
}

QString openFailureText(const QString &name, const QString &systemReason)
{
    QString text = QStringLiteral("cannot open the port %1: %2").arg(name, systemReason);
    const QString reason = openFailureReason(systemReason);
    // The usual first-day trap on Linux: the device belongs to a group the user is not in.
    if (reason == QLatin1String("permission"))
        text += QStringLiteral(" (the user must be in the group that owns the device, 'dialout' on Debian)");
    else if (reason == QLatin1String("busy"))
        text += QStringLiteral(" (busy: another program holds the port)");
    else if (reason == QLatin1String("not_serial"))
        text += QStringLiteral(" (not a serial port)");
    return text;
}

} // namespace Device
