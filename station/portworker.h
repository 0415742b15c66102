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
    QString downloadDirectory;     // not empty: each logger is downloaded there once it appears
    Archive::Location archive;     // what those downloads pass through
    QStringList ports;             // not empty: only these ports are opened
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
    // The port could not be opened: the system's reason.
    void openFailed(const QString &port, const QString &systemReason);
    void downloaded(const Station::DownloadReport &report);
    // During a download, at each new whole percent of the record memory read.
    void downloadProgress(const QString &port, int percent);

protected:
    void run() override;

private:
    PortReading poll(ManageSerialPort &port, const class QElapsedTimer &clock);
    // `answered`: the battery and every live register answered.
    PortReading pollOnce(ManageSerialPort &port, bool *answered);
    void downloadIfDue(ManageSerialPort &port, const PortReading &reading);
    bool stopping() const { return isInterruptionRequested(); }
    void pauseUntil(qint64 msFromStart, const QElapsedTimer &clock);
    std::optional<DownloadTarget> takeRequest();
    void download(ManageSerialPort &port, const PortReading &reading, const DownloadTarget &target,
                  const QElapsedTimer &clock);
    Progress progressTeller();

    const QString portName;
    const WorkerOptions options;
    mutable QMutex requestMutex;
    std::optional<DownloadTarget> request;
    // The logger of this plug that was downloaded (serial number and campaign), and when a
    // failed download is tried again.
    QString downloadedKey;
    QString lastKey;
    QString failedKey;
    int failedDownloads = 0;
    qint64 retryAtMs = 0;
};

} // namespace Station

#endif
