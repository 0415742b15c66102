#ifndef VANTOREL_MONITOR_H
#define VANTOREL_MONITOR_H

// The live station: the ports it may use probed for a logger, plug and unplug followed,
// one owner per port that runs at most one worker thread there, and the last reading of
// each kept for the metrics.

#include "portworker.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>

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

    // The ports where a logger was seen, in port order, with their counts.
    QList<PortReading> readings() const;
    // Those, then the ports with only counts (a failed open): what /metrics and / show.
    QList<PortReading> metricReadings() const;

    // Downloads the logger on `port` into `target` after its worker's poll under way; its
    // progress and report come as signals. False when no worker owns the port.
    bool download(const QString &port, const DownloadTarget &target);

    // Another part of the program talks to `port` (empty: none): its worker, if any, is
    // stopped and none is started there until the port is given back. Set before start()
    // to keep the port untouched.
    void leavePort(const QString &port);
    QString leftPort() const { return left; }

signals:
    // A logger the port had not shown (at start, plugged or swapped).
    void loggerFound(const QString &port, const LoggerStatus &status);
    // The logger last found on the port stopped answering / answers again.
    void loggerLost(const QString &port, const LoggerStatus &status);
    void loggerBack(const QString &port, const LoggerStatus &status);
    void downloaded(const Station::DownloadReport &report);
    // After every poll of a port where a logger was seen, once readings() holds it: what
    // publishers and alarms follow.
    void polled(const Station::PortReading &reading);
    // A port could not be opened; once per port and reason.
    void portError(const QString &port, const QString &reason, const QString &systemReason);
    // A worker starts to look for a logger on the port.
    void portProbing(const QString &port);
    // Nothing answered the worker's first probe there; its thread has ended.
    void portEmpty(const QString &port);
    // The port went away (unplugged); its worker is stopping.
    void portRemoved(const QString &port);
    // During a download, at each new whole percent of the record memory read.
    void downloadProgress(const QString &port, int percent);

private:
    // A port where no logger answered is probed again after these pauses (then the last
    // one each time), or at once when it is plugged again.
    static constexpr int REPROBE_S[] = {60, 120, 300, 600};

    enum class State { Idle, Running, Stopping };
    struct Port {
        State state = State::Idle;
        PortWorker *worker = nullptr;
        bool present = false;      // the watcher lists it: it wants a worker
        bool restart = false;      // start one again as soon as the stopping one ended
        int silentProbes = 0;
        qint64 probeAtMs = 0;      // Idle and present: when to probe again
        bool loggerSeen = false;
        bool lost = false;
        PortReading last;
        QSet<QString> told;        // reasons of open failures already told
        QMap<QString, quint64> errors;
        QMap<quint32, DownloadCount> downloads;
        quint64 archiveErrors = 0;
    };

    void startWorker(const QString &name);
    void stopWorker(Port &port);
    void onPolled(PortWorker *worker, const PortReading &reading);
    void onFinished(PortWorker *worker);
    void onOpenFailed(const QString &name, const QString &systemReason);
    void onDownloaded(const DownloadReport &report);
    PortReading withCounts(const QString &name, const Port &port) const;
    void onAttached(const QString &name);
    void onRemoved(const QString &name);
    void reprobe();

    WorkerOptions options;
    QMap<QString, Port> ports;
    QList<PortWorker *> stopping;
    PortWatcher *watcher = nullptr;
    QTimer *reprobeTimer = nullptr;
    QElapsedTimer uptime;
    bool stopped = false;
    QString left;
};

} // namespace Station

#endif
