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

void PortWorker::pauseUntil(qint64 msFromStart, const QElapsedTimer &clock)
{
    // The event loop runs meanwhile: the port manager sees its port go away.
    while (!stopping() && clock.elapsed() < msFromStart) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(PAUSE_STEP_MS, msFromStart - clock.elapsed())), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void PortWorker::run()
{
    ManageSerialPort port;
    if (!openPort(port, portName)) {
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
            const Cancelled cancelled = [this] { return stopping(); };
            DownloadReport report = downloadLogger(port, portName, reading.status,
                                                   DownloadTarget{options.downloadDirectory, options.archive, false}, cancelled);
            report.seconds = clock.elapsed() / 1000.0;
            emit downloaded(report);
        }
        pauseUntil(options.intervalMs, clock);
    }
}

} // namespace Station
