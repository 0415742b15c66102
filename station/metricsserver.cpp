#include "metricsserver.h"

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>

namespace Station {

namespace {

// Qt's HTTP server, given only requests the guard let through: GET or HEAD, no body.
class Pages : public QAbstractHttpServer
{
public:
    explicit Pages(MetricsServer *owner) : owner(owner) {}

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        const MetricsServer::Page page = owner->page(request.url().path().toUtf8(), request.value("authorization"));
        QHttpServerResponder responder = makeResponder(request, socket);
        responder.writeStatusLine(QHttpServerResponder::StatusCode(page.status));
        responder.writeHeader("Content-Type", page.type);
        responder.writeHeader("Content-Length", QByteArray::number(page.body.size()));
        responder.writeHeader("Connection", "close");
        if (page.challenge)
            responder.writeHeader("WWW-Authenticate", "Basic realm=\"vantorel\"");
        // HEAD: the same head, no body.
        responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : page.body);
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    MetricsServer *owner;
};

const QByteArray PLAIN = QByteArrayLiteral("text/plain; charset=utf-8");

} // namespace

MetricsServer::MetricsServer(Source readings, QObject *parent)
    : QObject(parent), source(std::move(readings)), http(std::make_unique<Pages>(this))
{
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::setWebConfig(const WebConfig &config)
{
    web = config;
}

void MetricsServer::setLimits(const GuardLimits &newLimits)
{
    limits = newLimits;
}

QByteArray MetricsServer::metricsBody()
{
    const std::optional<AlarmSnapshot> alarms = alarmSource ? std::optional(alarmSource()) : std::nullopt;
    const std::optional<quint64> mqtt = mqttFailureSource ? std::optional(mqttFailureSource()) : std::nullopt;
    return metricsText(source(), alarms ? &*alarms : nullptr, mqtt);
}

MetricsServer::Page MetricsServer::page(const QByteArray &path, const QByteArray &authorization)
{
    if (!authorized(authorization))
        return {401, PLAIN, QByteArrayLiteral("a user name and password are needed\n"), true};
    if (path == "/metrics")
        return {200, METRICS_CONTENT_TYPE, metricsBody()};
    if (path == "/")
        return {200, QByteArrayLiteral("text/html; charset=utf-8"), indexPage(source())};
    return {404, PLAIN, QByteArrayLiteral("only / and /metrics are served\n")};
}

bool MetricsServer::authorized(const QByteArray &authorization)
{
    if (web.users.isEmpty())
        return true;
    if (!authorization.startsWith("Basic "))
        return false;
    const QByteArray pair = QByteArray::fromBase64(authorization.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    if (colon < 0)
        return false;
    const QString user = QString::fromUtf8(pair.left(colon));
    const QByteArray password = pair.mid(colon + 1);
    // An unknown user costs as much time as a known one: the answer tells no names.
    static const QByteArray unknown = QByteArrayLiteral("$2y$10$kb8X8yT/VU.gZaIN/eFxqOnB3gx03Um9/Awv3VvIHucJFeOAMkm4O");
    const QByteArray hash = web.users.value(user, unknown);
    const QByteArray digest = QCryptographicHash::hash(pair + '\0' + hash, QCryptographicHash::Sha256);
    if (granted.contains(digest))
        return true;
    if (!passwordMatches(password, hash) || !web.users.contains(user))
        return false;
    if (granted.size() >= 256)
        granted.clear();
    granted.insert(digest);
    return true;
}

bool MetricsServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    auto *tcp = new HttpGuard(limits);
    if (web.tls)
        tcp->setTls(web.tlsConfiguration);
    if (!tcp->listen(address, port)) {
        if (error)
            *error = tcp->errorString();
        delete tcp;
        return false;
    }
    guard = tcp;
    http->bind(tcp);
    return true;
}

quint16 MetricsServer::serverPort() const
{
    return guard ? guard->serverPort() : 0;
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
