#include "portworker.h"

#include "clock.h"
#include "loggerdevice.h"
#include "manageserialport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace Station {

namespace {
// Steps of the pause between polls: a stop request is seen within one.
constexpr int PAUSE_STEP_MS = 100;
// Polls a download asked for while the logger missed its last poll waits for.
constexpr int DOWNLOAD_POLLS = 3;
} // namespace

PortWorker::PortWorker(const QString &port, const WorkerOptions &options, QObject *parent)
    : QThread(parent), portName(port), options(options)
{
}

PortReading PortWorker::poll(ManageSerialPort &port)
{
    PortReading reading;
    reading.port = portName;
    const Cancelled cancelled = [this] { return stopping(); };
    if (!port.isOpen() && !openPort(port, portName))
        return reading;
    if (!identify(port, reading.status, cancelled))
        return reading;
    const Device::LiveOutcome live = Device::readLive(port, reading.status);
    reading.values = liveValues(reading.status, live.answers);
    reading.batteryRead = live.batteryRead;
    reading.readAt = Clock::now().toUTC();
    reading.up = true;
    return reading;
}

void PortWorker::requestDownload(const DownloadTarget &target)
{
    const QMutexLocker lock(&requestMutex);
    request = target;
}

std::optional<DownloadTarget> PortWorker::takeRequest()
{
    const QMutexLocker lock(&requestMutex);
    std::optional<DownloadTarget> taken;
    taken.swap(request);
    return taken;
}

void PortWorker::pauseUntil(qint64 msFromStart, const QElapsedTimer &clock)
{
    // The event loop runs meanwhile: the port manager sees its port go away. A download
    // asked for cuts the pause short.
    const auto requested = [this] {
        const QMutexLocker lock(&requestMutex);
        return request.has_value();
    };
    while (!stopping() && !requested() && clock.elapsed() < msFromStart) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(PAUSE_STEP_MS, msFromStart - clock.elapsed())), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void PortWorker::run()
{
    ManageSerialPort port;
    if (!openPort(port, portName)) {
        emit openFailed(portName, port.errorString());
        emit noLogger(portName, port.errorString());
        return;
    }
    bool seen = false, downloadDone = options.downloadDirectory.isEmpty();
    QElapsedTimer clock;
    while (!stopping()) {
        clock.start();
        const PortReading reading = poll(port);
        if (stopping())
            break;
        if (!reading.up && !seen) {
            emit noLogger(portName, QStringLiteral("no logger answers"));
            return;
        }
        seen = true;
        emit polled(reading);
        if (reading.up && !downloadDone) {
            downloadDone = true;
            download(port, reading, DownloadTarget{options.downloadDirectory, options.archive, false}, clock);
        }
        if (const std::optional<DownloadTarget> asked = takeRequest())
            download(port, reading, *asked, clock);
        pauseUntil(options.intervalMs, clock);
    }
}

void PortWorker::download(ManageSerialPort &port, const PortReading &reading, const DownloadTarget &target,
                          const QElapsedTimer &clock)
{
    // A poll that lost an answer is no silent logger: it is asked again before the download fails.
    PortReading current = reading;
    for (int attempt = 0; attempt < DOWNLOAD_POLLS && !current.up && !stopping(); ++attempt)
        current = poll(port);
    if (!current.up) {
        DownloadReport report;
        report.port = portName;
        report.status = reading.status;
        report.error = QStringLiteral("the logger does not answer; no file was written");
        emit downloaded(report);
        return;
    }
    int shown = -1;
    const Progress progress = [this, &shown](quint32 done, quint32 total) {
        const int percent = total ? int(quint64(done) * 100 / total) : 100;
        if (percent != shown)
            emit downloadProgress(portName, shown = percent);
    };
    DownloadReport report = downloadLogger(port, portName, current.status, target, [this] { return stopping(); }, progress);
    report.seconds = clock.elapsed() / 1000.0;
    emit downloaded(report);
}

} // namespace Station
