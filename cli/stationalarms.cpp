#include "stationalarms.h"

#include "cli.h"
#include "session.h"

#include <QProcess>

namespace Cli {

QList<QCommandLineOption> alarmOptions()
{
    return {QCommandLineOption(QStringLiteral("alarms"),
                               QStringLiteral("Watch the limits of FILE (INI, one section per alarm) and show them at "
                                              "/metrics; each start and clear goes to standard error and the audit trail."),
                               QStringLiteral("FILE")),
            QCommandLineOption(QStringLiteral("alarm-command"),
                               QStringLiteral("Run CMD (without a shell, at most 30 s) at each start and clear of an alarm, "
                                              "with the alarm in VANTOREL_ALARM_* variables."),
                               QStringLiteral("CMD"))};
}

int StationAlarms::read(const QCommandLineParser &args, const Station::WorkerOptions &options)
{
    const bool withCommand = args.isSet(QStringLiteral("alarm-command"));
    if (!args.isSet(QStringLiteral("alarms")))
        return withCommand ? fail(Usage, QStringLiteral("--alarm-command needs --alarms FILE")) : Success;
    const QString command = args.value(QStringLiteral("alarm-command"));
    if (withCommand && QProcess::splitCommand(command).isEmpty())
        return fail(Usage, QStringLiteral("--alarm-command names no program"));
    QList<Station::AlarmRule> rules;
    QString error;
    if (!Station::readAlarmRules(args.value(QStringLiteral("alarms")), &rules, &error))
        return fail(Usage, error);
    alarms = std::make_unique<Station::Alarms>(rules, options.intervalMs);
    notifier = std::make_unique<Station::AlarmNotifier>(command, options.archive);
    return Success;
}

void StationAlarms::start(Station::Monitor &monitor, Station::MetricsServer &server)
{
    if (!alarms)
        return;
    Station::Alarms *watched = alarms.get();
    Station::AlarmNotifier *told = notifier.get();
    QObject::connect(&monitor, &Station::Monitor::polled, watched, &Station::Alarms::observe);
    QObject::connect(watched, &Station::Alarms::changed, told, [told](const Station::AlarmChange &change) {
        message(Station::alarmText(change));
        told->notify(change);
    });
    QObject::connect(told, &Station::AlarmNotifier::failed, told, [](const QString &text) { message(text); });
    server.setAlarmSource([watched, told] {
        return Station::AlarmSnapshot{watched->statuses(), told->commandFailures(), told->auditFailures()};
    });
    watched->start();
}

} // namespace Cli
