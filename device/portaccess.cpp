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

QString openFailureText(const QString &name, const QString &systemReason)
{
    QString text = QStringLiteral("cannot open the port %1: %2").arg(name, systemReason);
    // The usual first-day trap on Linux: the device belongs to a group the user is not in.
    if (systemReason.contains(QLatin1String("ermission")))
        text += QStringLiteral(" (the user must be in the group that owns the device, 'dialout' on Debian)");
    else if (systemReason.contains(QLatin1String("ioctl")))
        text += QStringLiteral(" (not a serial port)");
    return text;
}

} // namespace Device
