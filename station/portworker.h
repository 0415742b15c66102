#ifndef VANTOREL_PORTWORKER_H
#define VANTOREL_PORTWORKER_H

// The live station's thread for one port: its own port manager and the logger core, polling
// the logger's status and live values every interval. A slow or silent logger holds up only
// its own thread.

#include "loggerdownload.h"
#include "metrics.h"

#include <QMutex>
#include <QThread>

#include <optional>

namespace Station {

struct WorkerOptions {
    int intervalMs = 10000;
    QString downloadDirectory;     // not empty: the logger is downloaded there once found
    Archive::Location archive;     // what those downloads pass through
};

class PortWorker : public QThread
{
    Q_OBJECT

public:
    PortWorker(const QString &port, const WorkerOptions &options, QObject *parent = nullptr);
    QString port() const { return portName; }

    // Downloads the logger into `target` after the poll under way, from any thread. A
    // request while one waits replaces it.
    void requestDownload(const DownloadTarget &target);

signals:
    // After each poll once a logger answered on the port (up or not).
    void polled(const Station::PortReading &reading);
    // No logger answered the first probe (or the port could not be opened): the thread ends.
    void noLogger(const QString &port, const QString &reason);
    void downloaded(const Station::DownloadReport &report);
    // The port could not be opened: the system's reason, before noLogger.
    void openFailed(const QString &port, const QString &reason);
    // During a download, at each new whole percent of the record memory read.
    void downloadProgress(const QString &port, int percent);

protected:
    void run() override;

private:
    PortReading poll(ManageSerialPort &port);
    bool stopping() const { return isInterruptionRequested(); }
    void pauseUntil(qint64 msFromStart, const class QElapsedTimer &clock);
    std::optional<DownloadTarget> takeRequest();
    void download(ManageSerialPort &port, const PortReading &reading, const DownloadTarget &target,
                  const class QElapsedTimer &clock);

    const QString portName;
    const WorkerOptions options;
    mutable QMutex requestMutex;
    std::optional<DownloadTarget> request;
};

} // namespace Station

#endif
