#include "monitor.h"

#include "portaccess.h"
#include "portwatcher.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <iterator>

namespace Station {

namespace {
// How often the ports waiting for their next probe are looked at.
constexpr int REPROBE_TICK_MS = 1000;
} // namespace

Monitor::Monitor(const WorkerOptions &options, QObject *parent) : QObject(parent), options(options)
{
    qRegisterMetaType<Station::PortReading>();
    qRegisterMetaType<Station::DownloadReport>();
}

Monitor::~Monitor()
{
    // A thread that still holds its port is left to the end of the process, cut off from here;
    // one that already had its 2 s in stop() gets no more.
    if (stopped || !stop(2000))
        for (PortWorker *worker : std::as_const(stopping))
            worker->disconnect();
}

void Monitor::start()
{
    uptime.start();
    watcher = PortWatcher::forStation(options.ports, this);
    connect(watcher, &PortWatcher::portAttached, this, &Monitor::onAttached);
    connect(watcher, &PortWatcher::portRemoved, this, &Monitor::onRemoved);
    reprobeTimer = new QTimer(this);
    connect(reprobeTimer, &QTimer::timeout, this, &Monitor::reprobe);
    reprobeTimer->start(REPROBE_TICK_MS);
    for (const QString &name : PortWatcher::stationPortNames(options.ports))
        onAttached(name);
}

void Monitor::startWorker(const QString &name)
{
    if (!left.isEmpty() && name == left)
        return;
    Port &port = ports[name];
    // One worker per port: a new one waits for the old one to end.
    if (port.state != State::Idle) {
        port.restart = port.state == State::Stopping;
        return;
    }
    auto *worker = new PortWorker(name, options);
    port.worker = worker;
    port.state = State::Running;
    port.restart = false;
    connect(worker, &PortWorker::polled, this, [this, worker](const PortReading &reading) { onPolled(worker, reading); });
    connect(worker, &PortWorker::noLogger, this, [this](const QString &name) {
        Port &port = ports[name];
        const int step = qMin<int>(++port.silentProbes, int(std::size(REPROBE_S))) - 1;
        port.probeAtMs = uptime.elapsed() + REPROBE_S[step] * 1000LL;
        emit portEmpty(name);
    });
    connect(worker, &PortWorker::openFailed, this, &Monitor::onOpenFailed);
    connect(worker, &PortWorker::downloaded, this, &Monitor::onDownloaded);
    connect(worker, &PortWorker::downloadProgress, this, &Monitor::downloadProgress);
    // With the worker as context, a pending call goes with the worker when stop() deletes it.
    connect(worker, &QThread::finished, worker, [this, worker] { onFinished(worker); });
    worker->start();
    emit portProbing(name);
}

void Monitor::onPolled(PortWorker *worker, const PortReading &reading)
{
    auto found = ports.find(reading.port);
    if (found == ports.end() || found->worker != worker)
        return;
    Port &port = *found;
    if (reading.up) {
        const bool other = !port.loggerSeen || port.last.status.address != reading.status.address;
        if (other)
            emit loggerFound(reading.port, reading.status);
        else if (port.lost)
            emit loggerBack(reading.port, reading.status);
        port.lost = false;
        port.loggerSeen = true;
        port.last = reading;
        emit polled(reading);
        return;
    }
    if (port.loggerSeen && !port.lost) {
        port.lost = true;
        emit loggerLost(reading.port, port.last.status);
    }
    port.last.up = false;
    emit polled(reading);
}

void Monitor::onFinished(PortWorker *worker)
{
    stopping.removeOne(worker);
    auto found = ports.find(worker->port());
    if (found != ports.end() && found->worker == worker) {
        found->worker = nullptr;
        found->state = State::Idle;
        found->last.up = false;
        // A re-plug while the old worker was stopping: the new one starts at once.
        if (found->restart && found->present)
            startWorker(worker->port());
    }
    worker->deleteLater();
}

void Monitor::onOpenFailed(const QString &name, const QString &systemReason)
{
    Port &port = ports[name];
    const QString reason = Device::openFailureReason(systemReason);
    ++port.errors[reason];
    if (!port.told.contains(reason)) {
        port.told.insert(reason);
        emit portError(name, reason, systemReason);
    }
}

void Monitor::onDownloaded(const DownloadReport &report)
{
    Port &port = ports[report.port];
    DownloadCount &count = port.downloads[report.status.address];
    if (report.outcome == DownloadOutcome::Read) {
        ++count.ok;
        count.last = QDateTime::currentDateTimeUtc();
    } else if (report.outcome != DownloadOutcome::Interrupted) {
        ++count.failed;
    }
    if (!report.archiveError.isEmpty())
        ++port.archiveErrors;
    emit downloaded(report);
}

void Monitor::stopWorker(Port &port)
{
    if (port.state != State::Running)
        return;
    port.worker->requestInterruption();
    stopping.append(port.worker);
    port.state = State::Stopping;
    port.last.up = false;
}

void Monitor::onAttached(const QString &name)
{
    Port &port = ports[name];
    port.present = true;
    port.silentProbes = 0;
    startWorker(name);
}

void Monitor::onRemoved(const QString &name)
{
    auto found = ports.find(name);
    if (found != ports.end()) {
        found->present = false;
        found->restart = false;
        if (found->loggerSeen && !found->lost && found->state == State::Running) {
            found->lost = true;
            emit loggerLost(name, found->last.status);
        }
        stopWorker(*found);
    }
    emit portRemoved(name);
}

void Monitor::reprobe()
{
    const qint64 now = uptime.elapsed();
    for (auto it = ports.begin(); it != ports.end(); ++it)
        if (it->present && it->state == State::Idle && now >= it->probeAtMs)
            startWorker(it.key());
}

bool Monitor::stop(int ms)
{
    stopped = true;
    if (watcher)
        watcher->disconnect(this);
    if (reprobeTimer)
        reprobeTimer->stop();
    for (Port &port : ports) {
        port.restart = false;
        port.present = false;
        stopWorker(port);
    }
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
    // The port given back is probed at once if the watcher, which lists only the station's
    // ports, still lists it.
    if (watcher && !previous.isEmpty() && previous != port && ports.value(previous).present)
        startWorker(previous);
}

PortReading Monitor::withCounts(const QString &name, const Port &port) const
{
    PortReading reading = port.last;
    reading.port = name;
    reading.portErrors = port.errors;
    reading.downloads = port.downloads;
    reading.archiveErrors = port.archiveErrors;
    reading.loggerSeen = port.loggerSeen;
    return reading;
}

QList<PortReading> Monitor::readings() const
{
    QList<PortReading> list;
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        if (it->loggerSeen)
            list.append(withCounts(it.key(), *it));
    return list;
}

QList<PortReading> Monitor::metricReadings() const
{
    QList<PortReading> list = readings();
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        if (!it->loggerSeen && (!it->errors.isEmpty() || !it->downloads.isEmpty()))
            list.append(withCounts(it.key(), *it));
    return list;
}

} // namespace Station
