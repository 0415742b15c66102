#include "portwatcher.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

namespace {

QStringList systemPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        if (!names.contains(info.portName()))
            names.append(info.portName());
    return names;
}

// Listing the system's ports walks all of sysfs (about 10 ms, twice a second). A device
// node that comes or goes changes the modification time of /dev, so the listing is
// taken again only then. Elsewhere there is no such stamp and the listing is taken.
QDateTime deviceDirectoryStamp()
{
#ifdef Q_OS_UNIX
    return QFileInfo(QStringLiteral("/dev")).lastModified();
#else
    return QDateTime();
#endif
}

void appendExtraPorts(QStringList &names)
{
    const QStringList extra = qEnvironmentVariable("VANTOREL_EXTRA_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : extra)
        if (!names.contains(path) && QFileInfo::exists(path))
            names.append(path);
}

} // namespace

PortWatcher::PortWatcher(QObject *parent, int intervalMs)
    : QObject(parent), timer(new QTimer(this)), systemStamp(deviceDirectoryStamp()), systemPorts(systemPortNames())
{
    known = systemPorts;
    appendExtraPorts(known);
    connect(timer, &QTimer::timeout, this, &PortWatcher::poll);
    timer->start(intervalMs);
}

QStringList PortWatcher::availablePortNames()
{
    QStringList names = systemPortNames();
    appendExtraPorts(names);
    return names;
}

void PortWatcher::poll()
{
    const QDateTime stamp = deviceDirectoryStamp();
    if (!stamp.isValid() || stamp != systemStamp) {
        systemStamp = stamp;
        systemPorts = systemPortNames();
    }
    QStringList now = systemPorts;
    appendExtraPorts(now);
    for (const QString &name : std::as_const(known))
        if (!now.contains(name))
            emit portRemoved(name);
    for (const QString &name : now)
        if (!known.contains(name))
            emit portAttached(name);
    known = now;
}
