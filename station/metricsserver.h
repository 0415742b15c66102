#ifndef VANTOREL_METRICSSERVER_H
#define VANTOREL_METRICSSERVER_H

// The station's read-only HTTP side: GET /metrics and GET /, answered from the last readings
// (a scrape never touches a port); any other path 404, any other method 405.

#include "alarms.h"
#include "metrics.h"

#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>

class QHttpServer;

namespace Station {

inline constexpr quint16 DEFAULT_HTTP_PORT = 9733;

class MetricsServer : public QObject
{
    Q_OBJECT

public:
    using Source = std::function<QList<PortReading>()>;
    explicit MetricsServer(Source readings, QObject *parent = nullptr);
    ~MetricsServer() override;

    // False with `error` set (the system's reason) when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 serverPort() const;
    // What /metrics shows of the alarms, when the station watches any.
    void setAlarmSource(std::function<AlarmSnapshot()> alarms) { alarmSource = std::move(alarms); }

private:
    Source source;
    std::function<AlarmSnapshot()> alarmSource;
    std::unique_ptr<QHttpServer> http;
    quint16 boundPort = 0;
};

// "ADDRESS:PORT", "[IPv6]:PORT", ":PORT" or "PORT"; false when it is none of them.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port);

} // namespace Station

#endif
