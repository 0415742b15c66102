#include "mqttpublisher.h"

#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <mutex>

namespace Station {

namespace {

// libmosquitto's own thread runs the connection: keep-alive, reading and the reconnect with
// its growing pause (1, 4, 9... up to 30 s, and no longer than two intervals, so that a broker
// back is published to within two intervals), while the Qt thread only publishes.
constexpr int RECONNECT_MIN_S = 1, RECONNECT_MAX_S = 30;
// A logger without an answer for this many intervals is offline.
constexpr int SILENT_INTERVALS = 2;
const QByteArray ONLINE = "online", OFFLINE = "offline";

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

MqttPublisher::MqttPublisher(const MqttSettings &settings, QObject *parent) : QObject(parent), settings(settings)
{
    qRegisterMetaType<Station::PortReading>();
    connect(&silence, &QTimer::timeout, this, &MqttPublisher::checkSilence);
}

MqttPublisher::~MqttPublisher()
{
    stop(500);
}

QString MqttPublisher::brokerName() const
{
    return QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

bool MqttPublisher::start(QString *error)
{
    initLibrary();
    if (settings.tls && !settings.caFile.isEmpty()) {
        QFile ca(settings.caFile);
        if (!ca.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the CA file %1: %2").arg(settings.caFile, ca.errorString());
            return false;
        }
    }
    client = mosquitto_new(("vantorel-" + settings.stationId).toUtf8().constData(), true, this);
    if (!client) {
        *error = QStringLiteral("cannot create the MQTT client");
        return false;
    }
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const QByteArray user = settings.user.toUtf8(), password = settings.password.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(client, user.constData(), settings.password.isNull() ? nullptr : password.constData());
    const QByteArray status = stationStatusTopic(settings).toUtf8();
    mosquitto_will_set(client, status.constData(), int(OFFLINE.size()), OFFLINE.constData(), 1, true);
    if (settings.tls) {
        const QByteArray ca = settings.caFile.toLocal8Bit();
        const int rc = ca.isEmpty() ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                    : mosquitto_tls_set(client, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("cannot set TLS up: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    const int longest = qBound(RECONNECT_MIN_S, 2 * settings.intervalMs / 1000, RECONNECT_MAX_S);
    mosquitto_reconnect_delay_set(client, RECONNECT_MIN_S, longest, true);
    mosquitto_connect_callback_set(client, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttPublisher::onDisconnect);
    mosquitto_message_callback_set(client, &MqttPublisher::onMessage);
    closedCleanly = false;
    const int rc = mosquitto_connect_async(client, settings.host.toUtf8().constData(), settings.port, settings.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        tell(QStringLiteral("link"), QStringLiteral("cannot reach the MQTT broker %1: %2; trying again with a growing pause")
                                         .arg(brokerName(), QString::fromUtf8(mosquitto_strerror(rc))));
    const int loop = mosquitto_loop_start(client);
    if (loop != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("cannot start the MQTT client: %1").arg(QString::fromUtf8(mosquitto_strerror(loop)));
        return false;
    }
    clock.start();
    silence.start(qBound(100, settings.intervalMs / 4, 1000));
    return true;
}

void MqttPublisher::stop(int ms)
{
    if (!client)
        return;
    silence.stop();
    // A clean stop is no failure: the station says so itself rather than through its will.
    send({stationStatusTopic(settings), OFFLINE, true});
    const bool wasConnected = isConnected;
    isConnected = false;
    mosquitto_disconnect(client);
    QElapsedTimer waited;
    waited.start();
    while (wasConnected && !closedCleanly && waited.elapsed() < ms)
        QThread::msleep(10);
    // A thread still in a connect or a pause is cancelled rather than waited for.
    mosquitto_loop_stop(client, !closedCleanly);
    mosquitto_destroy(client);
    client = nullptr;
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    QMetaObject::invokeMethod(publisher, [publisher, rc] { publisher->connected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    publisher->closedCleanly = rc == 0;
    QMetaObject::invokeMethod(publisher, [publisher, rc] { publisher->disconnected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(publisher, [publisher, topic, payload] { publisher->received(topic, payload); }, Qt::QueuedConnection);
}

void MqttPublisher::connected(int rc)
{
    if (!client)
        return;
    if (rc != 0) {
        tell(QStringLiteral("link"), QStringLiteral("the MQTT broker %1 refused the connection: %2")
                                         .arg(brokerName(), QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    if (!told.isEmpty())
        emit problem(QStringLiteral("connected to the MQTT broker %1").arg(brokerName()));
    told.clear();
    isConnected = true;
    if (!birthTopic(settings).isEmpty())
        mosquitto_subscribe(client, nullptr, birthTopic(settings).toUtf8().constData(), 1);
    publishEverything();
}

void MqttPublisher::disconnected(int rc)
{
    const bool was = isConnected;
    isConnected = false;
    if (!client || rc == 0)
        return;
    tell(QStringLiteral("link"), was ? QStringLiteral("lost the MQTT broker %1 (%2); connecting again with a growing pause")
                                           .arg(brokerName(), QString::fromUtf8(mosquitto_strerror(rc)))
                                     : QStringLiteral("cannot reach the MQTT broker %1 (%2); trying again with a growing pause")
                                           .arg(brokerName(), QString::fromUtf8(mosquitto_strerror(rc))));
}

void MqttPublisher::received(const QString &topic, const QByteArray &payload)
{
    // Home Assistant's birth message: it restarted and lost what was not retained.
    if (topic == birthTopic(settings) && payload == ONLINE)
        publishEverything();
}

void MqttPublisher::publishEverything()
{
    send({stationStatusTopic(settings), ONLINE, true});
    for (const Logger &logger : std::as_const(loggers))
        publishLogger(logger);
}

void MqttPublisher::publishLogger(const Logger &logger)
{
    const QString serial = serialOf(logger.last);
    for (const MqttMessage &config : discoveryConfigs(settings, logger.last))
        send(config);
    send({availabilityTopic(settings, serial), logger.online ? ONLINE : OFFLINE, true});
    if (logger.online)
        send(stateMessage(settings, logger.last));
}

void MqttPublisher::follow(const PortReading &reading)
{
    // A logger that stops answering is found out by checkSilence(), whether its port still
    // polls it or went away with its thread.
    if (!reading.up)
        return;
    Logger &logger = loggers[serialOf(reading)];
    const bool identityChanged = !logger.last.up || logger.last.status.deviceType != reading.status.deviceType
                                 || logger.last.status.version != reading.status.version;
    logger.last = reading;
    logger.lastUpMs = clock.elapsed();
    if (identityChanged)
        for (const MqttMessage &config : discoveryConfigs(settings, reading))
            send(config);
    setOnline(logger, true);
    send(stateMessage(settings, reading));
}

void MqttPublisher::setOnline(Logger &logger, bool online)
{
    if (logger.online == online)
        return;
    logger.online = online;
    send({availabilityTopic(settings, serialOf(logger.last)), online ? ONLINE : OFFLINE, true});
}

void MqttPublisher::checkSilence()
{
    const qint64 now = clock.elapsed();
    for (Logger &logger : loggers)
        if (logger.online && now - logger.lastUpMs > qint64(SILENT_INTERVALS) * settings.intervalMs)
            setOnline(logger, false);
}

void MqttPublisher::send(const MqttMessage &message)
{
    // While the broker is away nothing is queued: publishEverything() sends the newest on connect.
    if (!isConnected || !client)
        return;
    const QByteArray topic = message.topic.toUtf8();
    // A link lost meanwhile refuses it (MOSQ_ERR_NO_CONN): the next connect publishes it again.
    mosquitto_publish(client, nullptr, topic.constData(), int(message.payload.size()), message.payload.constData(),
                      message.retained ? 1 : 0, message.retained);
}

void MqttPublisher::tell(const QString &kind, const QString &text)
{
    ++failureCount;
    if (told.contains(kind))
        return;
    told.insert(kind);
    emit problem(text);
}

} // namespace Station
