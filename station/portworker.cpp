#include "portworker.h"

#include "clock.h"
#include "loggerdevice.h"
#include "manageserialport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace Station {

namespace {
// Steps of the pause between polls: a stop request is seen within one.
constexpr int PAUSE_STEP_MS = 100;
// Polls a download asked for while the logger missed its last poll waits for.
constexpr int DOWNLOAD_POLLS = 3;
// A poll whose answers got lost is tried again this often, within its interval.
constexpr int POLL_ATTEMPTS = 3;
// Tries of each request of a poll: a line that loses an answer in five still gives every value.
constexpr quint32 REQUEST_ATTEMPTS = 4;
// Pauses before a failed download is tried again, then the last one each time.
constexpr int DOWNLOAD_RETRY_S[] = {10, 30, 60, 300, 900};

QString loggerKey(const LoggerStatus &s)
{
    return QString::number(s.address) + QLatin1Char('@') + s.startTime.toString(Qt::ISODate);
}
} // namespace

PortWorker::PortWorker(const QString &port, const WorkerOptions &options, QObject *parent)
    : QThread(parent), portName(port), options(options)
{
}

PortReading PortWorker::pollOnce(ManageSerialPort &port, bool *answered)
{
    *answered = false;
    PortReading reading;
    reading.port = portName;
    const Cancelled cancelled = [this] { return stopping(); };
    if (!identify(port, reading.status, cancelled, REQUEST_ATTEMPTS))
        return reading;
    const Device::LiveOutcome live = Device::readLive(port, reading.status, REQUEST_ATTEMPTS);
    reading.values = liveValues(reading.status, live.answers);
    reading.batteryRead = live.batteryRead;
    reading.readAt = Clock::now().toUTC();
    reading.up = true;
    const auto plan = liveReadPlan(reading.status.deviceType);
    *answered = live.batteryRead && std::all_of(plan.begin(), plan.end(), [&](const LiveRead &r) { return live.answers.forRegister(r.reg).ok; });
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

PortReading PortWorker::poll(ManageSerialPort &port, const QElapsedTimer &clock)
{
    // A lost answer is asked again while half the interval is left, as a download asks a
    // block again: one late answer on a loaded machine does not take the logger down.
    bool answered = false;
    PortReading best = pollOnce(port, &answered);
    for (int attempt = 1; attempt < POLL_ATTEMPTS && !answered && !stopping() && port.isOpen()
                          && clock.elapsed() < options.intervalMs / 2;
         ++attempt) {
        PortReading again = pollOnce(port, &answered);
        if (again.up && (!best.up || again.values.size() >= best.values.size()))
            best = again;
    }
    return best;
}

void PortWorker::downloadIfDue(ManageSerialPort &port, const PortReading &reading)
{
    const QString key = loggerKey(reading.status);
    // The same logger and campaign read twice in a row: one answer taken for another's on a
    // loaded line starts no download.
    const bool confirmed = key == lastKey;
    lastKey = reading.up ? key : QString();
    if (options.downloadDirectory.isEmpty() || !reading.up || !confirmed || key == downloadedKey)
        return;
    QElapsedTimer since;
    since.start();
    if (key == failedKey && QDateTime::currentMSecsSinceEpoch() < retryAtMs)
        return;
    const Cancelled cancelled = [this] { return stopping(); };
    DownloadReport report = downloadLogger(port, portName, reading.status,
                                           DownloadTarget{options.downloadDirectory, options.archive, false}, cancelled);
    report.seconds = since.elapsed() / 1000.0;
    if (report.outcome == DownloadOutcome::Read) {
        downloadedKey = key;
        failedKey.clear();
        failedDownloads = 0;
    } else if (report.outcome != DownloadOutcome::Interrupted) {
        // Each failure of the same logger waits longer before the next try.
        failedDownloads = key == failedKey ? failedDownloads + 1 : 1;
        failedKey = key;
        const int step = qMin<int>(failedDownloads, int(std::size(DOWNLOAD_RETRY_S))) - 1;
        retryAtMs = QDateTime::currentMSecsSinceEpoch() + DOWNLOAD_RETRY_S[step] * 1000LL;
    }
    emit downloaded(report);
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
    bool seen = false;
    QElapsedTimer clock;
    while (!stopping()) {
        clock.start();
        // A port that failed is closed, then opened anew: the device behind the path may be a
        // new one, and a dead handle would only fail faster.
        if (!port.isOpen() && !openPort(port, portName)) {
            emit openFailed(portName, port.errorString());
            if (!seen) {
                emit noLogger(portName, port.errorString());
                return;
            }
            PortReading down;
            down.port = portName;
            emit polled(down);
            pauseUntil(options.intervalMs, clock);
            continue;
        }
        const PortReading reading = poll(port, clock);
        if (stopping())
            break;
        if (!reading.up)
            port.closePort();
        if (!reading.up && !seen) {
            emit noLogger(portName, QStringLiteral("no logger answers"));
            return;
        }
        seen = true;
        emit polled(reading);
        downloadIfDue(port, reading);
        if (const std::optional<DownloadTarget> asked = takeRequest())
            download(port, reading, *asked, clock);
        pauseUntil(options.intervalMs, clock);
    }
}

void PortWorker::download(ManageSerialPort &port, const PortReading &reading, const DownloadTarget &target,
                          const QElapsedTimer &clock)
{
    // A poll that lost an answer is no silent logger: it is asked again before the download
    // fails, on a port opened anew if that poll closed it.
    PortReading current = reading;
    for (int attempt = 0; attempt < DOWNLOAD_POLLS && !current.up && !stopping(); ++attempt) {
        if (!port.isOpen() && !openPort(port, portName))
            break;
        bool answered = false;
        current = pollOnce(port, &answered);
    }
    if (!current.up) {
        DownloadReport report;
        report.port = portName;
        report.status = reading.status;
        report.error = QStringLiteral("the logger does not answer; no file was written");
        emit downloaded(report);
        return;
    }
    DownloadReport report = downloadLogger(port, portName, current.status, target, [this] { return stopping(); }, progressTeller());
    report.seconds = clock.elapsed() / 1000.0;
    emit downloaded(report);
}

Progress PortWorker::progressTeller()
{
    // Told at each new whole percent only: a 128 KiB memory is 2048 blocks.
    return [this, shown = -1](quint32 done, quint32 total) mutable {
        const int percent = total ? int(quint64(done) * 100 / total) : 100;
        if (percent != shown)
            emit downloadProgress(portName, shown = percent);
    };
}

} // namespace Station
