#ifndef VANTOREL_MQTTMESSAGES_H
#define VANTOREL_MQTTMESSAGES_H

// What the station publishes over MQTT, without a broker: where it connects, its topics, and
// the Home Assistant discovery configs and state messages made from a reading.

#include "metrics.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Station {

struct MqttSettings {
    QString host;
    quint16 port = 1883;
    bool tls = false;
    QString caFile;                   // with tls: empty for the system's certificates
    QString user, password;
    QString prefix = QStringLiteral("vantorel");
    QString discoveryPrefix = QStringLiteral("homeassistant");   // empty: no discovery
    QString stationId;
    int keepaliveSeconds = 30;
    int intervalMs = 10000;           // the station's polls: expire_after follows from it
};

// mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...; false with the reason for anything else.
bool parseMqttUrl(const QString &url, MqttSettings *settings, QString *error);

// Text usable as one topic level: not empty, no '/', '+' or '#'.
bool isTopicLevel(const QString &text);
// A prefix of one level or more: no wildcard, no empty level.
bool isTopicPrefix(const QString &text);

// The host name reduced to [A-Za-z0-9_-]; "station" when nothing is left.
QString defaultStationId();

struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retained = false;
};

QString stationStatusTopic(const MqttSettings &settings);
QString availabilityTopic(const MqttSettings &settings, const QString &serial);
QString stateTopic(const MqttSettings &settings, const QString &serial);
QString birthTopic(const MqttSettings &settings);   // empty without discovery

// The serial number as the window shows it: the logger's part of every topic.
QString serialOf(const PortReading &reading);

// One retained config per value of the logger (its live values, then free memory and
// records stored); none without discovery.
QList<MqttMessage> discoveryConfigs(const MqttSettings &settings, const PortReading &reading);

// The live values in the window's units (humidity in %), null where not known.
MqttMessage stateMessage(const MqttSettings &settings, const PortReading &reading);

} // namespace Station

#endif
