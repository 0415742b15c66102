#include "portwatcher.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

PortWatcher::PortWatcher(QObject *parent, int intervalMs)
    : QObject(parent), timer(new QTimer(this)), known(availablePortNames())
{
    connect(timer, &QTimer::timeout, this, &PortWatcher::poll);
    timer->start(intervalMs);
}

QStringList PortWatcher::availablePortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        if (!names.contains(info.portName()))
            names.append(info.portName());
    const QStringList extra = qEnvironmentVariable("VANTOREL_EXTRA_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : extra)
        if (!names.contains(path) && QFileInfo::exists(path))
            names.append(path);
    return names;
}

void PortWatcher::poll()
{
    const QStringList now = availablePortNames();
    for (const QString &name : std::as_const(known))
        if (!now.contains(name))
            emit portRemoved(name);
    for (const QString &name : now)
        if (!known.contains(name))
            emit portAttached(name);
    known = now;
}
