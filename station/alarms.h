#ifndef VANTOREL_ALARMS_H
#define VANTOREL_ALARMS_H

// Limits the station watches live: the alarms file, one state machine per alarm, logger and
// channel, and the changes they make (started, cleared). Time comes from the callers (the
// station's clock), so the timing can be checked without ports.

#include "metrics.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace Station {

enum class AlarmKind { High, Low, Offline, Battery, Memory };
// "high", "low", "offline", "battery", "memory": the `alarm` label.
QString alarmKindName(AlarmKind kind);

// One section of the alarms file. Times in seconds, limits in the base units of /metrics.
struct AlarmRule {
    QString name;                  // the section
    QString serial;                // as the station shows it ("00012345"), or "*"
    QString quantity;              // "temperature": the metric's name without prefix and unit
    QString channel;               // empty: every channel of the quantity
    std::optional<double> high, low;
    double delay = 0, clearDelay = 0, hysteresis = 0;
    std::optional<double> offlineAfter;  // default: five intervals
    double memoryFreeBelow = 0.1;
};

// Reads and checks the alarms file; false with `error` naming the file, the section and the key.
bool readAlarmRules(const QString &path, QList<AlarmRule> *rules, QString *error);

// What one reading says about a limit.
enum class Condition {
    Unknown,    // no number: neither starts nor clears, and breaks any run in progress
    Inside,     // back inside by more than the hysteresis
    Near,       // inside the limit, but within the hysteresis
    Outside,    // beyond the limit
};

// One alarm of one logger (and channel): outside for `delay` starts it, inside for `clearDelay`
// clears it. Conditions are fed in time order; the same one may be fed again as time passes.
class AlarmState
{
public:
    enum class Change { None, Started, Cleared };
    AlarmState(double delaySeconds, double clearDelaySeconds) : delayMs(qint64(delaySeconds * 1000)),
                                                                  clearDelayMs(qint64(clearDelaySeconds * 1000)) {}
    Change update(Condition condition, const QDateTime &now);
    bool active() const { return isActive; }
    QDateTime since() const { return startedFrom; }   // when the value of the last alarm left the range

private:
    qint64 delayMs, clearDelayMs;
    bool isActive = false;
    QDateTime outSince, backSince, startedFrom;
};

// An alarm as /metrics shows it, and as a change tells it.
struct AlarmStatus {
    QString name, serial, channel, quantity;
    quint32 address = 0;
    AlarmKind kind = AlarmKind::High;
    bool active = false;
    std::optional<double> threshold;   // none for the battery
    double value = 0;                   // the last value that counted
};

struct AlarmChange {
    AlarmStatus alarm;                  // as it is after the change
    QDateTime since, at;                // UTC: the value left the range; the change
    double durationSeconds() const { return since.msecsTo(at) / 1000.0; }
};

// What the station exposes of its alarms, failures included.
struct AlarmSnapshot {
    QList<AlarmStatus> alarms;
    double commandFailures = 0, auditFailures = 0;
};

// Every alarm of the rules over the readings the monitor reports; the offline alarms also
// advance on a timer, as an unplugged logger reports nothing.
class Alarms : public QObject
{
    Q_OBJECT

public:
    Alarms(const QList<AlarmRule> &rules, int intervalMs, QObject *parent = nullptr);
    void start();                               // the timer; Clock::now() is the time
    void observe(const PortReading &reading);   // at Clock::now()
    void evaluate();                            // as time passes
    QList<AlarmStatus> statuses() const;

signals:
    void changed(const Station::AlarmChange &change);

private:
    struct Watched {
        AlarmStatus status;
        AlarmState state;
        Condition condition = Condition::Unknown;
    };
    struct Logger {
        QDateTime lastAnswer;
    };

    Watched &watch(int rule, const QString &serial, quint32 address, AlarmKind kind, const QString &quantity = {},
                   const QString &channel = {});
    void observeValues(int rule, const PortReading &reading, const QString &serial);
    void observeOffline(Watched &w, const Logger &logger, const QDateTime &now);
    void advance(Watched &w, const QDateTime &now);

    QList<AlarmRule> rules;
    int intervalMs;
    double defaultOfflineAfter;
    QMap<QString, Watched> watched;             // by rule, serial, channel and kind, in that order
    QMap<QString, Logger> loggers;              // by serial
    QMap<QString, QString> serialOnPort;
    QTimer *timer = nullptr;
};

// The line the station writes on standard error for a change.
QString alarmText(const AlarmChange &change);

} // namespace Station

Q_DECLARE_METATYPE(Station::AlarmChange)

#endif
