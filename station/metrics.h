#ifndef VANTOREL_METRICS_H
#define VANTOREL_METRICS_H

// What the station shows of its loggers: the Prometheus text exposition and the index page.

#include "livereadings.h"
#include "loggerstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <optional>

namespace Station {

// The downloads of one logger the station made.
struct DownloadCount {
    quint64 ok = 0;
    quint64 failed = 0;
    QDateTime last;                // the last one that wrote its file
};

// The last poll of one port where a logger was seen.
struct PortReading {
    QString port;
    bool up = false;               // the logger answered that poll
    LoggerStatus status;           // when up: identity, campaign, completed by the live read
    QList<LiveValue> values;       // when up
    QDateTime readAt;              // the station's clock, when up
    bool batteryRead = false;      // when up: status.batteryCode is the logger's
    // What the station counted on this port since it started, across plugs.
    QMap<QString, quint64> portErrors;         // reason of a failed open -> how often
    QMap<quint32, DownloadCount> downloads;    // by serial number
    quint64 archiveErrors = 0;                 // downloads whose archive step failed
    bool loggerSeen = true;        // false: a port with only counts, no logger yet
};

struct AlarmSnapshot;

inline constexpr char METRICS_CONTENT_TYPE[] = "text/plain; version=0.0.4; charset=utf-8";

// Every metric with its HELP and TYPE; a port that is not up shows vantorel_up 0 alone (and
// its counts). The counts of every port are summed by serial number and in all. With
// `alarms`, their state, limits and failures too.
// `mqttFailures`, when the station publishes over MQTT: its failed connections and lost links.
QByteArray metricsText(const QList<PortReading> &ports, const AlarmSnapshot *alarms = nullptr,
                       std::optional<quint64> mqttFailures = std::nullopt);

// A short HTML page: each logger's live values, battery, last reading and last download,
// and the link to /metrics.
QByteArray indexPage(const QList<PortReading> &ports);

} // namespace Station

Q_DECLARE_METATYPE(Station::PortReading)

#endif
