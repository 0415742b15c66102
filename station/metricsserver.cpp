#include "metricsserver.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpServer>

namespace Station {

namespace {

QHttpServerResponse onlyGet(const QHttpServerRequest &request, const QByteArray &type, const std::function<QByteArray()> &body)
{
    if (request.method() != QHttpServerRequest::Method::Get) {
        QHttpServerResponse refused(QByteArrayLiteral("text/plain; charset=utf-8"), QByteArrayLiteral("only GET is served\n"),
                                    QHttpServerResponse::StatusCode::MethodNotAllowed);
        refused.setHeader(QByteArrayLiteral("Allow"), QByteArrayLiteral("GET"));
        return refused;
    }
    return QHttpServerResponse(type, body());
}

} // namespace

MetricsServer::MetricsServer(Source readings, QObject *parent)
    : QObject(parent), source(std::move(readings)), http(std::make_unique<QHttpServer>())
{
    const auto any = QHttpServerRequest::Method::AnyKnown;
    http->route(QStringLiteral("/metrics"), any, [this](const QHttpServerRequest &request) {
        return onlyGet(request, METRICS_CONTENT_TYPE, [this] {
            if (!alarmSource)
                return metricsText(source());
            const AlarmSnapshot alarms = alarmSource();
            return metricsText(source(), &alarms);
        });
    });
    http->route(QStringLiteral("/"), any, [this](const QHttpServerRequest &request) {
        return onlyGet(request, QByteArrayLiteral("text/html; charset=utf-8"), [this] { return indexPage(source()); });
    });
}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    auto *tcp = new QTcpServer(http.get());
    if (!tcp->listen(address, port)) {
        if (error)
            *error = tcp->errorString();
        delete tcp;
        return false;
    }
    boundPort = tcp->serverPort();
    http->bind(tcp);
    return true;
}

quint16 MetricsServer::serverPort() const
{
    return boundPort;
}

bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : text.left(colon);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    QHostAddress parsed(QStringLiteral("127.0.0.1"));
    if (!host.isEmpty() && !parsed.setAddress(host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host))
        return false;
    *address = parsed;
    *port = quint16(number);
    return true;
}

} // namespace Station
