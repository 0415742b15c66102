#ifndef VANTOREL_MQTTPUBLISHER_H
#define VANTOREL_MQTTPUBLISHER_H

// The station's MQTT client: follows the monitor's readings and keeps the broker's picture of
// the loggers (retained discovery configs and availability, the state each poll) up to date.
// Nothing is queued while the broker is away: the newest picture is published again on connect.

#include "mqttmessages.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <atomic>

struct mosquitto;
struct mosquitto_message;

namespace Station {

class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    explicit MqttPublisher(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Sets the client up and starts connecting; false with the reason when it cannot be set up
    // (a CA file that cannot be read). A broker that cannot be reached is retried.
    bool start(QString *error);
    // Tells the broker the station goes offline and disconnects, in at most `ms`.
    void stop(int ms);

    void follow(const Station::PortReading &reading);
    // Connections that failed and links lost since start, each one (told or not).
    quint64 failures() const { return failureCount; }

signals:
    // A failure of the link to the broker, told once until the next connection.
    void problem(const QString &text);

private:
    struct Logger {
        PortReading last;
        bool online = false;
        qint64 lastUpMs = 0;
    };

    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onDisconnect(struct mosquitto *, void *self, int rc);
    static void onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message);

    void connected(int rc);
    void disconnected(int rc);
    void received(const QString &topic, const QByteArray &payload);
    void publishEverything();
    void publishLogger(const Logger &logger);
    void setOnline(Logger &logger, bool online);
    void checkSilence();
    void send(const MqttMessage &message);
    void tell(const QString &kind, const QString &text);   // a failure: counted, told once a kind
    QString brokerName() const;

    const MqttSettings settings;
    struct mosquitto *client = nullptr;
    bool isConnected = false;
    std::atomic<quint64> failureCount{0};    // read by the metrics page
    std::atomic<bool> closedCleanly{false};   // set by the client's thread, for stop() to wait on
    QMap<QString, Logger> loggers;       // by serial number
    QSet<QString> told;
    QElapsedTimer clock;
    QTimer silence;
};

} // namespace Station

#endif
