#include "alarms.h"

#include "clock.h"
#include "codecs.h"
#include "quantities.h"
#include "statusdisplay.h"

#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <cmath>

namespace Station {

namespace {

// How often the alarms look at the time between two readings.
constexpr int EVALUATE_MS = 250;
constexpr int DEFAULT_OFFLINE_INTERVALS = 5;
constexpr int STALE_INTERVALS = 2;

const QStringList knownKeys = {"serial", "quantity", "channel", "high", "low", "delay", "clear_delay", "hysteresis",
                               "offline_after", "memory_free_below"};

class SectionReader
{
public:
    SectionReader(QSettings &settings, const QString &path, const QString &section)
        : settings(settings), path(path), section(section) {}

    bool fail(const QString &key, const QString &reason)
    {
        error = QStringLiteral("%1: [%2] %3: %4").arg(path, section, key, reason);
        return false;
    }
    bool has(const QString &key) const { return settings.contains(key); }
    // A value with a comma reads back as a list: joined again, it is told as written.
    QString text(const QString &key) const
    {
        const QVariant value = settings.value(key);
        return (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString()).trimmed();
    }

    // A number of at least `min` (and at most `max`); absent keys leave `value` alone.
    bool number(const QString &key, double *value, double min = -INFINITY, double max = INFINITY)
    {
        if (!has(key))
            return true;
        bool ok = false;
        const double read = text(key).toDouble(&ok);
        if (!ok || !std::isfinite(read))
            return fail(key, QStringLiteral("not a number: \"%1\"").arg(text(key)));
        if (read < min || read > max)
            return fail(key, max < INFINITY ? QStringLiteral("takes %1 to %2").arg(min).arg(max)
                                            : min > 0 ? QStringLiteral("must be above 0") : QStringLiteral("must not be negative"));
        *value = read;
        return true;
    }
    bool optionalNumber(const QString &key, std::optional<double> *value, double min = -INFINITY)
    {
        double read = 0;
        if (!has(key))
            return true;
        if (!number(key, &read, min))
            return false;
        *value = read;
        return true;
    }

    QSettings &settings;
    const QString path, section;
    QString error;
};

bool knownChannel(const QString &quantity, const QString &channel)
{
    for (const Quantity &q : liveQuantities())
        if (quantity == QLatin1String(q.quantity) && (channel.isEmpty() || (q.channel && channel == QLatin1String(q.channel))))
            return true;
    return false;
}

QString knownQuantities()
{
    QStringList names;
    for (const Quantity &q : liveQuantities())
        if (!names.contains(QLatin1String(q.quantity)))
            names << QLatin1String(q.quantity);
    return names.join(QStringLiteral(", "));
}

bool readSection(SectionReader &in, AlarmRule *rule)
{
    for (const QString &key : in.settings.childKeys())
        if (!knownKeys.contains(key))
            return in.fail(key, QStringLiteral("unknown key (known: %1)").arg(knownKeys.join(QStringLiteral(", "))));
    rule->name = in.section;
    rule->serial = in.text(QStringLiteral("serial"));
    bool hex = false;
    const quint32 address = rule->serial.toUInt(&hex, 16);
    if (rule->serial != QLatin1String("*") && (!hex || rule->serial.size() > 8))
        return in.fail(QStringLiteral("serial"), QStringLiteral("takes a serial number as the station shows it, or *"));
    if (hex)
        rule->serial = formatDeviceAddress(address);
    rule->quantity = in.text(QStringLiteral("quantity"));
    rule->channel = in.text(QStringLiteral("channel"));
    if (in.has(QStringLiteral("quantity")) && !knownChannel(rule->quantity, {}))
        return in.fail(QStringLiteral("quantity"), QStringLiteral("unknown quantity \"%1\" (known: %2)").arg(rule->quantity, knownQuantities()));
    if (!rule->channel.isEmpty() && !knownChannel(rule->quantity, rule->channel))
        return in.fail(QStringLiteral("channel"), QStringLiteral("%1 has no channel %2").arg(rule->quantity, rule->channel));
    if (!in.optionalNumber(QStringLiteral("high"), &rule->high) || !in.optionalNumber(QStringLiteral("low"), &rule->low))
        return false;
    if ((rule->high || rule->low) && rule->quantity.isEmpty())
        return in.fail(QStringLiteral("quantity"), QStringLiteral("missing: high and low need the quantity they limit"));
    if (rule->high && rule->low && !(*rule->low < *rule->high))
        return in.fail(QStringLiteral("low"), QStringLiteral("must be below high"));
    return in.number(QStringLiteral("delay"), &rule->delay, 0) && in.number(QStringLiteral("clear_delay"), &rule->clearDelay, 0)
           && in.number(QStringLiteral("hysteresis"), &rule->hysteresis, 0)
           && in.optionalNumber(QStringLiteral("offline_after"), &rule->offlineAfter, 0)
           && in.number(QStringLiteral("memory_free_below"), &rule->memoryFreeBelow, 0, 1);
}

QString key(int rule, const QString &serial, const QString &channel, AlarmKind kind)
{
    return QStringLiteral("%1|%2|%3|%4").arg(rule, 4, 10, QLatin1Char('0')).arg(serial, channel).arg(int(kind));
}

// How a value stands against one limit, with the hysteresis on the way back.
Condition against(double value, double limit, double hysteresis, bool isHigh)
{
    if (!std::isfinite(value))
        return Condition::Unknown;
    const double beyond = isHigh ? value - limit : limit - value;
    return beyond > 0 ? Condition::Outside : -beyond > hysteresis ? Condition::Inside : Condition::Near;
}

} // namespace

QString alarmKindName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::High: return QStringLiteral("high");
    case AlarmKind::Low: return QStringLiteral("low");
    case AlarmKind::Offline: return QStringLiteral("offline");
    case AlarmKind::Battery: return QStringLiteral("battery");
    case AlarmKind::Memory: break;
    }
    return QStringLiteral("memory");
}

bool readAlarmRules(const QString &path, QList<AlarmRule> *rules, QString *error)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("%1: cannot read the alarms file").arg(path);
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("%1: not an INI file").arg(path);
        return false;
    }
    const QStringList sections = settings.childGroups();
    if (sections.isEmpty() || !settings.childKeys().isEmpty()) {
        *error = QStringLiteral("%1: every key belongs in an alarm section, e.g. [freezer]").arg(path);
        return false;
    }
    for (const QString &section : sections) {
        settings.beginGroup(section);
        SectionReader in(settings, path, section);
        AlarmRule rule;
        const bool ok = readSection(in, &rule);
        settings.endGroup();
        if (!ok) {
            *error = in.error;
            return false;
        }
        rules->append(rule);
    }
    return true;
}

AlarmState::Change AlarmState::update(Condition condition, const QDateTime &now)
{
    if (condition == Condition::Unknown) {
        outSince = backSince = {};
        return Change::None;
    }
    if (!isActive) {
        if (condition != Condition::Outside) {
            outSince = {};
            return Change::None;
        }
        if (!outSince.isValid())
            outSince = now;
        if (outSince.msecsTo(now) < delayMs)
            return Change::None;
        isActive = true;
        startedFrom = outSince;
        return Change::Started;
    }
    if (condition != Condition::Inside) {
        backSince = {};
        return Change::None;
    }
    if (!backSince.isValid())
        backSince = now;
    if (backSince.msecsTo(now) < clearDelayMs)
        return Change::None;
    isActive = false;
    outSince = backSince = {};
    return Change::Cleared;
}

Alarms::Alarms(const QList<AlarmRule> &rules, int intervalMs, QObject *parent)
    : QObject(parent), rules(rules), intervalMs(intervalMs), defaultOfflineAfter(DEFAULT_OFFLINE_INTERVALS * intervalMs / 1000.0)
{
    qRegisterMetaType<Station::AlarmChange>();
}

void Alarms::start()
{
    // A logger named in the file is offline from the start until it answers.
    const QDateTime now = Clock::now().toUTC();
    for (int i = 0; i < rules.size(); ++i) {
        if (rules[i].serial == QLatin1String("*"))
            continue;
        loggers.insert(rules[i].serial, Logger{now});
        watch(i, rules[i].serial, rules[i].serial.toUInt(nullptr, 16), AlarmKind::Offline);
    }
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &Alarms::evaluate);
    timer->start(EVALUATE_MS);
}

Alarms::Watched &Alarms::watch(int rule, const QString &serial, quint32 address, AlarmKind kind, const QString &quantity,
                               const QString &channel)
{
    const QString k = key(rule, serial, channel, kind);
    auto found = watched.find(k);
    if (found != watched.end())
        return *found;
    const AlarmRule &r = rules[rule];
    const bool limit = kind == AlarmKind::High || kind == AlarmKind::Low;
    AlarmStatus status{r.name, serial, channel, quantity, address, kind, false, {}, 0};
    switch (kind) {
    case AlarmKind::High: status.threshold = r.high; break;
    case AlarmKind::Low: status.threshold = r.low; break;
    case AlarmKind::Offline: status.threshold = r.offlineAfter.value_or(defaultOfflineAfter); status.quantity = "up"; break;
    case AlarmKind::Memory: status.threshold = r.memoryFreeBelow; status.quantity = "memory_free"; break;
    case AlarmKind::Battery: status.quantity = "battery"; break;
    }
    return *watched.insert(k, Watched{status, AlarmState(limit ? r.delay : 0, limit ? r.clearDelay : 0)});
}

void Alarms::observe(const PortReading &reading)
{
    const QDateTime now = Clock::now().toUTC();
    if (reading.up)
        serialOnPort.insert(reading.port, formatDeviceAddress(reading.status.address));
    const QString serial = serialOnPort.value(reading.port);
    if (serial.isEmpty())
        return;
    Logger &logger = loggers[serial];
    if (reading.up)
        logger.lastAnswer = now;
    for (int i = 0; i < rules.size(); ++i) {
        if (rules[i].serial != serial && rules[i].serial != QLatin1String("*"))
            continue;
        observeOffline(watch(i, serial, reading.status.address, AlarmKind::Offline), logger, now);
        if (reading.up)
            observeValues(i, reading, serial);
    }
    evaluate();
}

void Alarms::observeValues(int rule, const PortReading &reading, const QString &serial)
{
    const AlarmRule &r = rules[rule];
    const quint32 address = reading.status.address;
    // A value this reading lacks (its read failed) is not known now.
    for (Watched &w : watched)
        if (w.status.name == r.name && w.status.serial == serial && (w.status.kind == AlarmKind::High || w.status.kind == AlarmKind::Low))
            w.condition = Condition::Unknown;
    for (const LiveValue &v : reading.values) {
        const Quantity *q = quantityNamed(v.name);
        const QString channel = q && q->channel ? QString::fromLatin1(q->channel) : QString();
        if (!q || r.quantity != QLatin1String(q->quantity) || (!r.channel.isEmpty() && r.channel != channel))
            continue;
        const double value = v.known ? metricValue(*q, v) : NAN;
        for (AlarmKind kind : {AlarmKind::High, AlarmKind::Low}) {
            const std::optional<double> limit = kind == AlarmKind::High ? r.high : r.low;
            if (!limit)
                continue;
            Watched &w = watch(rule, serial, address, kind, r.quantity, channel);
            w.condition = against(value, *limit, r.hysteresis, kind == AlarmKind::High);
            if (w.condition != Condition::Unknown)
                w.status.value = value;
        }
    }
    if (reading.batteryRead) {
        Watched &battery = watch(rule, serial, address, AlarmKind::Battery);
        const bool lowest = batteryLevel(reading.status.batteryCode) == BatteryLevel::VeryLow;
        battery.condition = lowest ? Condition::Outside : Condition::Inside;
        battery.status.value = reading.status.batteryCode;
    }
    Watched &memory = watch(rule, serial, address, AlarmKind::Memory);
    memory.status.value = reading.status.freeMemoryPercent / 100.0;
    memory.condition = memory.status.value < r.memoryFreeBelow ? Condition::Outside : Condition::Inside;
}

void Alarms::observeOffline(Watched &w, const Logger &logger, const QDateTime &now)
{
    w.status.value = logger.lastAnswer.msecsTo(now) / 1000.0;
    // Time alone tells: an unplugged logger reports nothing at all.
    w.condition = w.status.value >= *w.status.threshold ? Condition::Outside : Condition::Inside;
}

void Alarms::evaluate()
{
    const QDateTime now = Clock::now().toUTC();
    for (Watched &w : watched) {
        const Logger &logger = loggers[w.status.serial];
        if (w.status.kind == AlarmKind::Offline)
            observeOffline(w, logger, now);
        else if (logger.lastAnswer.msecsTo(now) > STALE_INTERVALS * intervalMs)
            w.condition = Condition::Unknown;   // a reading that old tells nothing of the present
        advance(w, now);
    }
}

void Alarms::advance(Watched &w, const QDateTime &now)
{
    const AlarmState::Change change = w.state.update(w.condition, now);
    if (change == AlarmState::Change::None)
        return;
    w.status.active = w.state.active();
    emit changed(AlarmChange{w.status, w.state.since(), now});
}

QList<AlarmStatus> Alarms::statuses() const
{
    QList<AlarmStatus> list;
    for (const Watched &w : watched)
        list.append(w.status);
    return list;
}

QString alarmText(const AlarmChange &change)
{
    const AlarmStatus &a = change.alarm;
    const QString channel = a.channel.isEmpty() ? QString() : QStringLiteral(" channel ") + a.channel;
    const QString limit = a.threshold ? QStringLiteral(" (limit %1)").arg(*a.threshold) : QString();
    const QString what = QStringLiteral("alarm %1 (%2) of %3: %4%5 %6%7")
                             .arg(a.name, alarmKindName(a.kind), a.serial, a.quantity, channel)
                             .arg(a.value).arg(limit);
    const QString since = change.since.toString(Qt::ISODate);
    if (a.active)
        return what + QStringLiteral(" started, out of range since ") + since;
    return what + QStringLiteral(" cleared, out of range from %1 for %2 s").arg(since).arg(change.durationSeconds());
}

} // namespace Station
