#ifndef VANTOREL_MONITOR_H
#define VANTOREL_MONITOR_H

// The live station: every port the system lists probed for a logger, plug and unplug followed,
// one worker thread per logger, and the last reading of each kept for the metrics.

#include "portworker.h"

#include <QMap>
#include <QObject>

class PortWatcher;
class QTimer;

namespace Station {

class Monitor : public QObject
{
    Q_OBJECT

public:
    explicit Monitor(const WorkerOptions &options, QObject *parent = nullptr);
    ~Monitor() override;

    void start();
    // Asks every worker to stop and waits for them, at most `ms` in all; true when all stopped.
    bool stop(int ms);

    // The ports where a logger was seen, in port order: what /metrics and / show.
    QList<PortReading> readings() const;

    // Downloads the logger on `port` into `target` after its worker's poll under way; its
    // progress and report come as signals. False when no worker owns the port.
    bool download(const QString &port, const DownloadTarget &target);

    // Another part of the program talks to `port` (empty: none): its worker, if any, is
    // stopped and none is started there until the port is given back. Set before start()
    // to keep the port untouched.
    void leavePort(const QString &port);
    QString leftPort() const { return left; }

signals:
    void loggerFound(const QString &port, const LoggerStatus &status);
    void downloaded(const Station::DownloadReport &report);
    // After every poll of a port where a logger was seen, once readings() holds it: what
    // publishers and alarms follow.
    void polled(const Station::PortReading &reading);
    // A worker starts to look for a logger on the port.
    void portProbing(const QString &port);
    // The port could not be opened: the system's reason.
    void portUnusable(const QString &port, const QString &reason);
    // Nothing answered the worker's first probe there; its thread has ended.
    void portEmpty(const QString &port);
    // The port went away (unplugged); its worker is stopping.
    void portRemoved(const QString &port);
    void downloadProgress(const QString &port, int percent);

private:
    // A port where no logger answered is probed again on its next plug, or after this long.
    static constexpr int REPROBE_MS = 60000;

    struct Port {
        PortWorker *worker = nullptr;
        bool loggerSeen = false;
        PortReading last;
    };

    void startWorker(const QString &name);
    void stopWorker(Port &port);
    void onAttached(const QString &name);
    void onRemoved(const QString &name);
    void reprobe();

    WorkerOptions options;
    QMap<QString, Port> ports;
    QList<PortWorker *> stopping;
    PortWatcher *watcher = nullptr;
    QTimer *reprobeTimer = nullptr;
    QString left;
};

} // namespace Station

#endif
