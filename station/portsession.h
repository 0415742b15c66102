#ifndef VANTOREL_PORTSESSION_H
#define VANTOREL_PORTSESSION_H

// What every station thread does first on its port: open it and find out whether a logger
// answers there, and a thread per port for one-shot jobs (probe, download).

#include "loggerdevice.h"
#include "loggerstatus.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class ManageSerialPort;

namespace Station {

using Cancelled = std::function<bool()>;

// Opens `name` with the configured time-out base; its own plug and unplug are the ones watched.
bool openPort(ManageSerialPort &port, const QString &name);

// Wakes whatever is on the open port and reads its status: true once a logger answered
// with all of it. A silent port, or one that answers garbage, is no logger.
// Gives up between wake-ups once `cancelled` says so.
// `attempts`: tries of each status request.
bool identify(ManageSerialPort &port, LoggerStatus &status, const Cancelled &cancelled, quint32 attempts = Device::STATUS_ATTEMPTS);

struct Probe {
    QString port;
    QString openError;         // the system's reason when the port could not be opened
    bool found = false;
    LoggerStatus status;       // when found
};

// Runs `job` once per port, each in a thread of its own with its own port manager, all at
// the same time; the results in the order of `ports`.
template <typename Result>
QList<Result> onEachPort(const QStringList &ports, const std::function<Result(const QString &port)> &job);

QList<Probe> probePorts(const QStringList &ports, const Cancelled &cancelled);

// The thread runner behind onEachPort.
void runInThreads(int count, const std::function<void(int index)> &job);

template <typename Result>
QList<Result> onEachPort(const QStringList &ports, const std::function<Result(const QString &port)> &job)
{
    QList<Result> results(ports.size());
    runInThreads(int(ports.size()), [&](int index) { results[index] = job(ports[index]); });
    return results;
}

} // namespace Station

#endif
