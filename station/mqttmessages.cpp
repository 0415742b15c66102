#include "mqttmessages.h"

#include "codecs.h"
#include "devicetypes.h"
#include "quantities.h"
#include "version.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace Station {

namespace {

// Home Assistant drops a value older than this many intervals: a missed poll or two is not
// an outage, the availability topics tell those.
constexpr int EXPIRE_INTERVALS = 3;

// "activePower" -> "Active power": the entity's name in Home Assistant.
QString entityName(const char *key)
{
    QString name;
    for (const QChar c : QString::fromLatin1(key)) {
        if (c.isUpper() && !name.isEmpty())
            name += QLatin1Char(' ') + c.toLower();
        else
            name += name.isEmpty() ? c.toUpper() : c;
    }
    return name;
}

QList<LiveValue> allValues(const PortReading &reading)
{
    return reading.values + statusValues(reading.status);
}

QJsonObject deviceBlock(const PortReading &reading)
{
    const QString serial = serialOf(reading);
    const QString model = screenNameOf(reading.status.deviceType);
    return {{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("vantorel_") + serial}},
            {QStringLiteral("name"), (model.isEmpty() ? QStringLiteral("Logger") : model) + QLatin1Char(' ') + serial},
            {QStringLiteral("model"), model},
            {QStringLiteral("sw_version"), QString::number(reading.status.version)},
            {QStringLiteral("manufacturer"), QStringLiteral("VanTorel")}};
}

QJsonObject config(const MqttSettings &settings, const PortReading &reading, const Quantity &q)
{
    const QString serial = serialOf(reading);
    const int expire = qMax(1, int(std::ceil(EXPIRE_INTERVALS * settings.intervalMs / 1000.0)));
    QJsonObject o{{QStringLiteral("unique_id"), QStringLiteral("vantorel_%1_%2").arg(serial, QLatin1String(q.name))},
                  {QStringLiteral("name"), entityName(q.name)},
                  {QStringLiteral("state_topic"), stateTopic(settings, serial)},
                  {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(q.name))},
                  {QStringLiteral("state_class"), QLatin1String(haStateClass(q))},
                  {QStringLiteral("availability"),
                   QJsonArray{QJsonObject{{QStringLiteral("topic"), stationStatusTopic(settings)}},
                              QJsonObject{{QStringLiteral("topic"), availabilityTopic(settings, serial)}}}},
                  {QStringLiteral("availability_mode"), QStringLiteral("all")},
                  {QStringLiteral("expire_after"), expire},
                  {QStringLiteral("device"), deviceBlock(reading)},
                  {QStringLiteral("origin"), QJsonObject{{QStringLiteral("name"), QStringLiteral("VanTorel")},
                                                         {QStringLiteral("sw"), QStringLiteral(VANTOREL_VERSION)}}}};
    if (q.haDeviceClass)
        o.insert(QStringLiteral("device_class"), QLatin1String(q.haDeviceClass));
    if (q.haUnit)
        o.insert(QStringLiteral("unit_of_measurement"), QString::fromUtf8(q.haUnit));
    if (q.diagnostic)
        o.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    return o;
}

} // namespace

bool parseMqttUrl(const QString &text, MqttSettings *settings, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.host().isEmpty()) {
        *error = QStringLiteral("not an MQTT broker address: %1 (mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...)").arg(text);
        return false;
    }
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() || url.hasFragment()) {
        *error = QStringLiteral("an MQTT broker address has no path, query or fragment: %1").arg(text);
        return false;
    }
    if (url.port() == 0) {
        *error = QStringLiteral("not a port number in %1 (1 to 65535)").arg(text);
        return false;
    }
    settings->tls = scheme == QLatin1String("mqtts");
    settings->host = url.host();
    settings->port = quint16(url.port(settings->tls ? 8883 : 1883));
    settings->user = url.userName();
    settings->password = url.password();
    return true;
}

bool isTopicLevel(const QString &text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('/')) && isTopicPrefix(text);
}

bool isTopicPrefix(const QString &text)
{
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#')) || text.contains(QChar(0)))
        return false;
    const QStringList levels = text.split(QLatin1Char('/'));
    return std::none_of(levels.begin(), levels.end(), [](const QString &level) { return level.isEmpty(); });
}

QString defaultStationId()
{
    QString id = QHostInfo::localHostName();
    id.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")));
    return id.isEmpty() ? QStringLiteral("station") : id;
}

QString stationStatusTopic(const MqttSettings &settings)
{
    return settings.prefix + QStringLiteral("/station/") + settings.stationId + QStringLiteral("/status");
}

QString availabilityTopic(const MqttSettings &settings, const QString &serial)
{
    return settings.prefix + QLatin1Char('/') + serial + QStringLiteral("/availability");
}

QString stateTopic(const MqttSettings &settings, const QString &serial)
{
    return settings.prefix + QLatin1Char('/') + serial + QStringLiteral("/state");
}

QString birthTopic(const MqttSettings &settings)
{
    return settings.discoveryPrefix.isEmpty() ? QString() : settings.discoveryPrefix + QStringLiteral("/status");
}

QString serialOf(const PortReading &reading)
{
    return formatDeviceAddress(reading.status.address);
}

QList<MqttMessage> discoveryConfigs(const MqttSettings &settings, const PortReading &reading)
{
    QList<MqttMessage> messages;
    if (settings.discoveryPrefix.isEmpty())
        return messages;
    for (const LiveValue &v : allValues(reading)) {
        const Quantity *q = quantityNamed(v.name);
        if (!q)
            continue;
        const QString id = QStringLiteral("vantorel_%1_%2").arg(serialOf(reading), QLatin1String(q->name));
        messages.append({settings.discoveryPrefix + QStringLiteral("/sensor/") + id + QStringLiteral("/config"),
                         QJsonDocument(config(settings, reading, *q)).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

MqttMessage stateMessage(const MqttSettings &settings, const PortReading &reading)
{
    QJsonObject o;
    for (const LiveValue &v : allValues(reading))
        o.insert(QLatin1String(v.name), v.known ? QJsonValue(shownValue(v)) : QJsonValue());
    return {stateTopic(settings, serialOf(reading)), QJsonDocument(o).toJson(QJsonDocument::Compact), false};
}

} // namespace Station
