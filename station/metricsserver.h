#ifndef VANTOREL_METRICSSERVER_H
#define VANTOREL_METRICSSERVER_H

// The station's read-only HTTP side: GET /metrics and GET /, answered from the last readings
// (a scrape never touches a port); any other path 404, any other method 405.

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

private:
    Source source;
    std::unique_ptr<QHttpServer> http;
    quint16 boundPort = 0;
};

// "ADDRESS:PORT", "[IPv6]:PORT", ":PORT" or "PORT"; false when it is none of them.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port);

} // namespace Station

#endif
