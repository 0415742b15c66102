#ifndef VANTOREL_PORTACCESS_H
#define VANTOREL_PORTACCESS_H

// Opening the port the way every front end does: the time-out base of config.ini is read
// at each open, and the configured port is the one whose plug and unplug are reported.

#include <QString>

class ManageSerialPort;

namespace Device {

// The port named in config.ini, empty when none is.
QString configuredPort();

// Opens `name` (closing whatever was open). False with port.errorString() set on failure.
bool openPort(ManageSerialPort &port, const QString &name);

// Closes and opens again the configured port; false when none is configured or it fails.
bool reopenConfiguredPort(ManageSerialPort &port);

// Why a port could not be opened, from the system's reason: "permission", "busy" (another
// program holds it), "gone", "not_serial" or "other".
QString openFailureReason(const QString &systemReason);

// One line for the user: why `name` could not be opened, from the system's reason.
QString openFailureText(const QString &name, const QString &systemReason);

} // namespace Device

#endif
