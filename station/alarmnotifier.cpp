#include "alarmnotifier.h"

#include <QJsonObject>
#include <QProcess>
#include <QTimer>

namespace Station {

namespace {

QString number(double value)
{
    return QString::number(value, 'g', 15);
}

QJsonObject details(const AlarmChange &change)
{
    const AlarmStatus &a = change.alarm;
    QJsonObject o{{QStringLiteral("name"), a.name},
                  {QStringLiteral("alarm"), alarmKindName(a.kind)},
                  {QStringLiteral("serial"), a.serial},
                  {QStringLiteral("quantity"), a.quantity},
                  {QStringLiteral("channel"), a.channel.isEmpty() ? QJsonValue() : QJsonValue(a.channel)},
                  {QStringLiteral("value"), a.value},
                  {QStringLiteral("limit"), a.threshold ? QJsonValue(*a.threshold) : QJsonValue()},
                  {QStringLiteral("since"), change.since.toString(Qt::ISODate)}};
    if (!a.active)
        o.insert(QStringLiteral("durationSeconds"), change.durationSeconds());
    return o;
}

QProcessEnvironment environment(const AlarmChange &change)
{
    const AlarmStatus &a = change.alarm;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QList<std::pair<const char *, QString>> variables = {
        {"NAME", a.name},
        {"STATE", a.active ? QStringLiteral("active") : QStringLiteral("cleared")},
        {"ALARM", alarmKindName(a.kind)},
        {"SERIAL", a.serial},
        {"QUANTITY", a.quantity},
        {"CHANNEL", a.channel},
        {"VALUE", number(a.value)},
        {"THRESHOLD", a.threshold ? number(*a.threshold) : QString()},
        {"SINCE", change.since.toString(Qt::ISODate)},
    };
    for (const auto &[name, value] : variables)
        env.insert(QStringLiteral("VANTOREL_ALARM_") + QLatin1String(name), value);
    return env;
}

} // namespace

AlarmNotifier::AlarmNotifier(const QString &command, const Archive::Location &archive, QObject *parent)
    : QObject(parent), command(QProcess::splitCommand(command)), archive(archive)
{
}

AlarmNotifier::~AlarmNotifier()
{
    // All killed first, then reaped: the station stops within its 2 s.
    for (QProcess *process : std::as_const(running)) {
        process->disconnect();
        process->kill();
    }
    for (QProcess *process : std::as_const(running))
        process->waitForFinished(200);
}

void AlarmNotifier::notify(const AlarmChange &change)
{
    record(change);
    if (!command.isEmpty())
        run(change);
}

void AlarmNotifier::record(const AlarmChange &change)
{
    if (!archive.enabled())
        return;
    QString error;
    if (!store)
        store = Archive::Store::open(archive, &error);
    const auto kind = change.alarm.active ? Archive::EventKind::AlarmStarted : Archive::EventKind::AlarmCleared;
    if (store && store->logEvent(kind, change.alarm.address, details(change), &error))
        return;
    store.reset();   // opened again at the next change: the server may be back by then
    ++failedAudits;
    emit failed(QStringLiteral("the archive did not record the alarm: ") + error);
}

void AlarmNotifier::run(const AlarmChange &change)
{
    auto *process = new QProcess(this);
    running.append(process);
    process->setProcessEnvironment(environment(change));
    process->setProgram(command.first());
    process->setArguments(command.mid(1));
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);   // its complaints go to the journal
    auto *limit = new QTimer(process);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, process, &QProcess::kill);
    const auto done = [this, process] {
        running.removeOne(process);
        process->deleteLater();
    };
    connect(process, &QProcess::errorOccurred, this, [this, process, done](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        commandFailed(QStringLiteral("could not be started: ") + process->errorString());
        done();
    });
    connect(process, &QProcess::finished, this, [this, process, limit, done](int code, QProcess::ExitStatus status) {
        if (!limit->isActive())
            commandFailed(QStringLiteral("was stopped after %1 s").arg(COMMAND_LIMIT_MS / 1000));
        else if (status == QProcess::CrashExit)
            commandFailed(QStringLiteral("crashed"));
        else if (code != 0)
            commandFailed(QStringLiteral("failed with exit status %1").arg(code));
        done();
    });
    limit->start(COMMAND_LIMIT_MS);
    process->start();
}

void AlarmNotifier::commandFailed(const QString &reason)
{
    ++failedCommands;
    emit failed(QStringLiteral("alarm command %1 %2").arg(command.first(), reason));
}

} // namespace Station
