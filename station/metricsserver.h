#ifndef VANTOREL_METRICSSERVER_H
#define VANTOREL_METRICSSERVER_H

// The station's read-only HTTP side: GET and HEAD of /metrics and /, answered from the last
// readings (a scrape never touches a port); any other path 404. Every connection first passes
// the guard (limits, methods, TLS); with users configured, a request needs one's password.

#include "alarms.h"
#include "httpguard.h"
#include "metrics.h"
#include "webconfig.h"

#include <QHostAddress>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>

class QAbstractHttpServer;

namespace Station {

inline constexpr quint16 DEFAULT_HTTP_PORT = 9733;

class MetricsServer : public QObject
{
    Q_OBJECT

public:
    using Source = std::function<QList<PortReading>()>;
    explicit MetricsServer(Source readings, QObject *parent = nullptr);
    ~MetricsServer() override;

    // TLS and users for the next listen().
    void setWebConfig(const WebConfig &config);
    void setLimits(const GuardLimits &limits);
    // False with `error` set (the system's reason) when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 serverPort() const;
    // What /metrics shows of the alarms, when the station watches any.
    void setAlarmSource(std::function<AlarmSnapshot()> alarms) { alarmSource = std::move(alarms); }
    // Its MQTT failures, when the station publishes over MQTT.
    void setMqttFailureSource(std::function<quint64()> failures) { mqttFailureSource = std::move(failures); }

    // The page for a request of `path` with this Authorization header: status, type, body.
    struct Page { int status = 200; QByteArray type, body; bool challenge = false; };
    Page page(const QByteArray &path, const QByteArray &authorization);

private:
    bool authorized(const QByteArray &authorization);
    QByteArray metricsBody();

    Source source;
    std::function<AlarmSnapshot()> alarmSource;
    std::function<quint64()> mqttFailureSource;
    WebConfig web;
    GuardLimits limits;
    std::unique_ptr<QAbstractHttpServer> http;
    HttpGuard *guard = nullptr;
    QSet<QByteArray> granted;   // digests of user, password and hash that matched: bcrypt is slow
};

// "ADDRESS:PORT", "[IPv6]:PORT", ":PORT" or "PORT"; false when it is none of them.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port);

} // namespace Station

#endif
