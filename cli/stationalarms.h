#ifndef VANTOREL_CLI_STATIONALARMS_H
#define VANTOREL_CLI_STATIONALARMS_H

// serve --alarms FILE [--alarm-command CMD]: the limits the station watches, wired to the
// monitor's readings, the metrics and standard error.

#include "alarmnotifier.h"
#include "alarms.h"
#include "metricsserver.h"
#include "monitor.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <memory>

namespace Cli {

QList<QCommandLineOption> alarmOptions();

class StationAlarms
{
public:
    // Reads the file before anything starts: Success, or Usage after a message naming the
    // file, section and key.
    int read(const QCommandLineParser &args, const Station::WorkerOptions &options);
    // Follows the monitor and shows the alarms at /metrics; nothing without --alarms.
    void start(Station::Monitor &monitor, Station::MetricsServer &server);

private:
    std::unique_ptr<Station::Alarms> alarms;
    std::unique_ptr<Station::AlarmNotifier> notifier;
};

} // namespace Cli

#endif
