#ifndef VANTOREL_ALARMNOTIFIER_H
#define VANTOREL_ALARMNOTIFIER_H

// What the station does at each start and clear of an alarm: an event in the archive's audit
// trail and, when given, the user's command with the alarm in its environment.

#include "alarms.h"
#include "archive.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QProcess;

namespace Station {

class AlarmNotifier : public QObject
{
    Q_OBJECT

public:
    // `command` is split as a shell would, but run without one; empty: no command.
    AlarmNotifier(const QString &command, const Archive::Location &archive, QObject *parent = nullptr);
    ~AlarmNotifier() override;   // a command still running is killed

    void notify(const Station::AlarmChange &change);
    double commandFailures() const { return failedCommands; }
    double auditFailures() const { return failedAudits; }

    // A command is given this long, then killed.
    static constexpr int COMMAND_LIMIT_MS = 30000;

signals:
    // A failure, told once: the command's exit status, or the archive's error.
    void failed(const QString &message);

private:
    void record(const AlarmChange &change);
    void run(const AlarmChange &change);
    void commandFailed(const QString &reason);

    QStringList command;
    Archive::Location archive;
    std::unique_ptr<Archive::Store> store;
    QList<QProcess *> running;
    double failedCommands = 0, failedAudits = 0;
};

} // namespace Station

#endif
