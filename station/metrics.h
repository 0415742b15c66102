#ifndef VANTOREL_METRICS_H
#define VANTOREL_METRICS_H

// What the station shows of its loggers: the Prometheus text exposition and the index page.

#include "livereadings.h"
#include "loggerstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

namespace Station {

// The last poll of one port where a logger was seen.
struct PortReading {
    QString port;
    bool up = false;               // the logger answered that poll
    LoggerStatus status;           // when up: identity, campaign, completed by the live read
    QList<LiveValue> values;       // when up
    QDateTime readAt;              // the station's clock, when up
    bool batteryRead = false;      // status.batteryCode is the logger's answer
};

struct AlarmSnapshot;

inline constexpr char METRICS_CONTENT_TYPE[] = "text/plain; version=0.0.4; charset=utf-8";

// Every metric with its HELP and TYPE; a port that is not up shows vantorel_up 0 alone.
// With `alarms`, their state, limits and failures too.
QByteArray metricsText(const QList<PortReading> &ports, const AlarmSnapshot *alarms = nullptr);

// A short HTML page: the loggers found and the link to /metrics.
QByteArray indexPage(const QList<PortReading> &ports);

} // namespace Station

Q_DECLARE_METATYPE(Station::PortReading)

#endif
