#include "portsession.h"

#include "loggerdevice.h"
#include "manageserialport.h"
#include "portaccess.h"

#include <QThread>

#include <memory>
#include <vector>

namespace Station {

bool openPort(ManageSerialPort &port, const QString &name)
{
    if (!Device::openPort(port, name))
        return false;
    port.setWatchedPort(name);
    return true;
}

bool identify(ManageSerialPort &port, LoggerStatus &status, const Cancelled &cancelled, quint32 attempts)
{
    bool awake = false;
    for (int attempt = 0; attempt < Device::WAKE_UP_ATTEMPTS && !awake; ++attempt) {
        if (cancelled && cancelled())
            return false;
        awake = Device::wakeUp(port, 1);
    }
    return awake && Device::readStatus(port, status, attempts).complete;
}

void runInThreads(int count, const std::function<void(int index)> &job)
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int index = 0; index < count; ++index) {
        threads.emplace_back(QThread::create(job, index));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
}

QList<Probe> probePorts(const QStringList &ports, const Cancelled &cancelled)
{
    return onEachPort<Probe>(ports, [&cancelled](const QString &name) {
        Probe probe;
        probe.port = name;
        ManageSerialPort port;
        if (!openPort(port, name)) {
            probe.openError = port.errorString();
            return probe;
        }
        probe.found = identify(port, probe.status, cancelled);
        return probe;
    });
}

} // namespace Station
