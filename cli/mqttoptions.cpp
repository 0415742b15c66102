#include "mqttoptions.h"

#include "cli.h"
#include "session.h"

#include <QFile>
#include <QRegularExpression>

namespace Cli {

namespace {

QString opt(const char *name)
{
    return QString::fromLatin1(name);
}

// The first line of the file, without its line end.
int readPassword(const QString &path, QString *password)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(FileError, QStringLiteral("cannot read the MQTT password file %1: %2").arg(path, file.errorString()));
    *password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return Success;
}

int settingsFrom(const QCommandLineParser &args, int intervalMs, Station::MqttSettings *s)
{
    QString error;
    if (!Station::parseMqttUrl(args.value(opt("mqtt")), s, &error))
        return fail(Usage, QStringLiteral("--mqtt: ") + error);
    if (args.isSet(opt("mqtt-password-file"))) {
        if (s->user.isEmpty() || !s->password.isNull())
            return fail(Usage, QStringLiteral("--mqtt-password-file needs a user and no password in the --mqtt URL"));
        if (int code = readPassword(args.value(opt("mqtt-password-file")), &s->password))
            return code;
    }
    if (args.isSet(opt("mqtt-ca")) && !s->tls)
        return fail(Usage, QStringLiteral("--mqtt-ca goes with an mqtts:// URL"));
    s->caFile = args.value(opt("mqtt-ca"));
    s->prefix = args.value(opt("mqtt-prefix"));
    const QString discovery = args.value(opt("mqtt-discovery-prefix"));
    s->discoveryPrefix = discovery == QLatin1String("none") ? QString() : discovery;
    if (!Station::isTopicPrefix(s->prefix) || (!s->discoveryPrefix.isEmpty() && !Station::isTopicPrefix(s->discoveryPrefix)))
        return fail(Usage, QStringLiteral("an MQTT prefix is one topic level or more, without '+', '#' or an empty level"));
    s->stationId = args.isSet(opt("mqtt-station-id")) ? args.value(opt("mqtt-station-id")) : Station::defaultStationId();
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!idPattern.match(s->stationId).hasMatch())
        return fail(Usage, QStringLiteral("--mqtt-station-id takes letters, digits, '_' and '-'"));
    bool ok = false;
    s->keepaliveSeconds = args.value(opt("mqtt-keepalive")).toInt(&ok);
    if (!ok || s->keepaliveSeconds < 5 || s->keepaliveSeconds > 65535)
        return fail(Usage, QStringLiteral("--mqtt-keepalive takes seconds, from 5 to 65535"));
    s->intervalMs = intervalMs;
    return Success;
}

} // namespace

QList<QCommandLineOption> mqttOptions()
{
    return {QCommandLineOption(opt("mqtt"), QStringLiteral("Publish the live readings to an MQTT broker, with Home Assistant discovery: "
                                                           "mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://... (TLS)."),
                               QStringLiteral("URL")),
            QCommandLineOption(opt("mqtt-password-file"), QStringLiteral("The broker password, first line of FILE (not on the command line)."),
                               QStringLiteral("FILE")),
            QCommandLineOption(opt("mqtt-ca"), QStringLiteral("With mqtts: the CA certificate of the broker (default: the system's)."),
                               QStringLiteral("FILE")),
            QCommandLineOption(opt("mqtt-prefix"), QStringLiteral("First level of the station's topics (default vantorel)."),
                               QStringLiteral("PREFIX"), QStringLiteral("vantorel")),
            QCommandLineOption(opt("mqtt-discovery-prefix"),
                               QStringLiteral("Home Assistant's discovery prefix (default homeassistant); none: no discovery."),
                               QStringLiteral("PREFIX"), QStringLiteral("homeassistant")),
            QCommandLineOption(opt("mqtt-station-id"), QStringLiteral("The station's name in its topics (default: the host name)."),
                               QStringLiteral("ID")),
            QCommandLineOption(opt("mqtt-keepalive"), QStringLiteral("Seconds between keep-alives with the broker (default 30)."),
                               QStringLiteral("SECONDS"), QStringLiteral("30"))};
}

int startMqtt(const QCommandLineParser &args, int intervalMs, Station::Monitor &monitor,
              std::unique_ptr<Station::MqttPublisher> *publisher)
{
    if (!args.isSet(opt("mqtt"))) {
        for (const QString &name : args.optionNames())
            if (name.startsWith(QLatin1String("mqtt-")))
                return fail(Usage, QStringLiteral("--%1 goes with --mqtt").arg(name));
        return Success;
    }
    Station::MqttSettings settings;
    if (int code = settingsFrom(args, intervalMs, &settings))
        return code;
    auto mqtt = std::make_unique<Station::MqttPublisher>(settings);
    QObject::connect(mqtt.get(), &Station::MqttPublisher::problem, [](const QString &text) { message(text); });
    QObject::connect(&monitor, &Station::Monitor::polled, mqtt.get(), &Station::MqttPublisher::follow);
    QString error;
    if (!mqtt->start(&error))
        return fail(FileError, QStringLiteral("--mqtt: ") + error);
    *publisher = std::move(mqtt);
    return Success;
}

} // namespace Cli
