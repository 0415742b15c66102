#ifndef VANTOREL_MQTTBROKER_H
#define VANTOREL_MQTTBROKER_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// A mosquitto broker of the test's own on a free local port, configured in `directory`;
// `extra` adds to its configuration (a password file, a TLS listener). Stopped and started
// again on the same port, it has forgotten every retained message.
class MqttBroker
{
public:
    MqttBroker(const QString &directory, const QByteArray &extra = {});
    ~MqttBroker() { stop(); }
    bool start();   // true once it listens
    void stop();
    const quint16 port;

private:
    QString directory;
    QProcess process;
};

struct SeenMessage {
    QString topic;
    QByteArray payload;
    bool retained;
};

// mosquitto_sub on every topic of the broker, keeping what it received; `extra` for TLS.
class MqttSubscriber
{
public:
    explicit MqttSubscriber(quint16 port, const QStringList &extra = {});
    ~MqttSubscriber();
    QList<SeenMessage> messages();
    // The newest message on `topic`; empty topic when none came.
    SeenMessage last(const QString &topic);
    bool waitFor(const std::function<bool(const SeenMessage &)> &match, int timeoutMs = 30000);
    void clear() { messages(); seen.clear(); }

private:
    QProcess process;
    QList<SeenMessage> seen;
};

quint16 freeTcpPort();

#endif
