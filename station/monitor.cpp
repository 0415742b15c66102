#include "monitor.h"

#include "portwatcher.h"

#include <QDeadlineTimer>
#include <QTimer>

namespace Station {

Monitor::Monitor(const WorkerOptions &options, QObject *parent) : QObject(parent), options(options)
{
    qRegisterMetaType<Station::PortReading>();
    qRegisterMetaType<Station::DownloadReport>();
}

Monitor::~Monitor()
{
    // A thread that still holds its port is left to the end of the process, cut off from here.
    if (!stop(2000))
        for (PortWorker *worker : std::as_const(stopping))
            worker->disconnect();
}

void Monitor::start()
{
    watcher = new PortWatcher(this);
    connect(watcher, &PortWatcher::portAttached, this, &Monitor::onAttached);
    connect(watcher, &PortWatcher::portRemoved, this, &Monitor::onRemoved);
    reprobeTimer = new QTimer(this);
    connect(reprobeTimer, &QTimer::timeout, this, &Monitor::reprobe);
    reprobeTimer->start(REPROBE_MS);
    for (const QString &name : PortWatcher::availablePortNames())
        startWorker(name);
}

void Monitor::startWorker(const QString &name)
{
    if (!left.isEmpty() && name == left)
        return;
    Port &port = ports[name];
    if (port.worker)
        return;
    auto *worker = new PortWorker(name, options);
    port.worker = worker;
    connect(worker, &PortWorker::polled, this, [this, worker](const PortReading &reading) {
        auto found = ports.find(reading.port);
        if (found == ports.end() || found->worker != worker)
            return;
        if (reading.up && (!found->last.up || found->last.status.address != reading.status.address))
            emit loggerFound(reading.port, reading.status);
        found->loggerSeen = true;
        found->last = reading;
        emit polled(reading);
    });
    connect(worker, &PortWorker::downloaded, this, &Monitor::downloaded);
    connect(worker, &PortWorker::downloadProgress, this, &Monitor::downloadProgress);
    connect(worker, &PortWorker::openFailed, this, &Monitor::portUnusable);
    connect(worker, &PortWorker::noLogger, this, [this, worker](const QString &port) {
        if (ports.value(port).worker == worker)
            emit portEmpty(port);
    });
    // With the worker as context, a pending call goes with the worker when stop() deletes it.
    connect(worker, &QThread::finished, worker, [this, worker] {
        stopping.removeOne(worker);
        auto found = ports.find(worker->port());
        if (found != ports.end() && found->worker == worker) {
            found->worker = nullptr;
            found->last.up = false;
        }
        worker->deleteLater();
    });
    worker->start();
    emit portProbing(name);
}

void Monitor::stopWorker(Port &port)
{
    if (!port.worker)
        return;
    port.worker->requestInterruption();
    stopping.append(port.worker);
    port.worker = nullptr;
    port.last.up = false;
}

void Monitor::onAttached(const QString &name)
{
    startWorker(name);
}

void Monitor::onRemoved(const QString &name)
{
    auto found = ports.find(name);
    if (found != ports.end())
        stopWorker(*found);
    emit portRemoved(name);
}

void Monitor::reprobe()
{
    // A worker ends after a first probe that found no logger: those ports are probed again.
    const QStringList present = PortWatcher::availablePortNames();
    for (const QString &name : present)
        if (!ports.value(name).worker)
            startWorker(name);
}

bool Monitor::stop(int ms)
{
    if (watcher)
        watcher->disconnect(this);
    if (reprobeTimer)
        reprobeTimer->stop();
    for (Port &port : ports)
        stopWorker(port);
    const QDeadlineTimer deadline(ms);
    QList<PortWorker *> running;
    for (PortWorker *worker : std::as_const(stopping)) {
        if (worker->wait(deadline))
            delete worker;
        else
            running.append(worker);
    }
    stopping = running;
    return running.isEmpty();
}

bool Monitor::download(const QString &port, const DownloadTarget &target)
{
    PortWorker *worker = ports.value(port).worker;
    if (!worker)
        return false;
    worker->requestDownload(target);
    return true;
}

void Monitor::leavePort(const QString &port)
{
    const QString previous = left;
    left = port;
    auto found = ports.find(port);
    if (found != ports.end()) {
        stopWorker(*found);
        found->loggerSeen = false;
    }
    // The port given back is probed at once, if it is still there.
    if (watcher && !previous.isEmpty() && previous != port && PortWatcher::availablePortNames().contains(previous))
        startWorker(previous);
}

QList<PortReading> Monitor::readings() const
{
    QList<PortReading> list;
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        if (it->loggerSeen)
            list.append(it->last);
    return list;
}

} // namespace Station
