// The station commands: ports --probe, read of many loggers at once, and serve.

#include "cli.h"

#include "archiveoptions.h"
#include "codecs.h"
#include "devicetypes.h"
#include "loggerdownload.h"
#include "metricsserver.h"
#include "monitor.h"
#include "mqttoptions.h"
#include "portaccess.h"
#include "portwatcher.h"
#include "session.h"
#include "stationalarms.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

namespace Cli {

namespace {

// The logger's identity as the window shows it; nulls before the logger answered.
QJsonObject identityJson(bool found, const LoggerStatus &s)
{
    if (!found)
        return QJsonObject{{QStringLiteral("serialNumber"), QJsonValue()}, {QStringLiteral("deviceType"), QJsonValue()},
                           {QStringLiteral("typeName"), QJsonValue()}};
    return QJsonObject{{QStringLiteral("serialNumber"), formatDeviceAddress(s.address)},
                       {QStringLiteral("deviceType"), s.deviceType},
                       {QStringLiteral("typeName"), textOrNull(screenNameOf(s.deviceType))}};
}

QString typeText(quint8 deviceType)
{
    const QString name = screenNameOf(deviceType);
    return name.isEmpty() ? QStringLiteral("unknown (%1)").arg(deviceType) : name;
}

void printReport(const Station::DownloadReport &r, bool json)
{
    const bool found = r.outcome != Station::DownloadOutcome::NoLogger;
    const bool written = r.outcome == Station::DownloadOutcome::Read;
    const QString seconds = QString::number(r.seconds, 'f', 1);
    if (json) {
        QJsonObject o = identityJson(found, r.status);
        o.insert(QStringLiteral("port"), r.port);
        o.insert(QStringLiteral("file"), written ? QJsonValue(r.file) : QJsonValue());
        o.insert(QStringLiteral("records"), written ? QJsonValue(double(r.records)) : QJsonValue());
        o.insert(QStringLiteral("newRecords"), written ? QJsonValue(double(r.newRecords)) : QJsonValue());
        o.insert(QStringLiteral("seconds"), seconds.toDouble());
        o.insert(QStringLiteral("result"), Station::outcomeName(r.outcome));
        o.insert(QStringLiteral("error"), textOrNull(r.error));
        writeJson(o);
        return;
    }
    const QString dash = QStringLiteral("-");
    const QStringList fields = {r.port,
                                found ? formatDeviceAddress(r.status.address) : dash,
                                found ? typeText(r.status.deviceType) : dash,
                                written ? r.file : dash,
                                written ? QString::number(r.records) : dash,
                                written ? QString::number(r.newRecords) : dash,
                                seconds,
                                Station::outcomeName(r.outcome)};
    writeOut((fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
}

} // namespace

bool isStationRead(const QCommandLineParser &args)
{
    return args.isSet(QStringLiteral("all")) || args.values(portOption()).size() > 1
           || args.isSet(QStringLiteral("directory")) || args.isSet(jsonOption());
}

int probePorts(const QCommandLineParser &args)
{
    const QList<Station::Probe> probes = Station::probePorts(PortWatcher::stationPortNames(args.values(portOption())), &interrupted);
    const bool json = args.isSet(jsonOption());
    for (const Station::Probe &p : probes) {
        if (json) {
            QJsonObject o = identityJson(p.found, p.status);
            o.insert(QStringLiteral("port"), p.port);
            o.insert(QStringLiteral("logger"), p.found);
            writeJson(o);
        } else {
            const QString logger = p.found ? typeText(p.status.deviceType) + QLatin1Char('\t') + formatDeviceAddress(p.status.address)
                                           : QStringLiteral("none");
            writeOut((p.port + QLatin1Char('\t') + logger + QLatin1Char('\n')).toUtf8());
        }
    }
    return interrupted() ? fail(Failure, QStringLiteral("interrupted")) : Success;
}

int readMany(const QCommandLineParser &args)
{
    const bool all = args.isSet(QStringLiteral("all"));
    const QStringList named = args.values(portOption());
    if (!all && named.isEmpty())
        return fail(Usage, QStringLiteral("give --all or the ports (--port P, once per port)"));
    if (args.isSet(QStringLiteral("output")))
        return fail(Usage, QStringLiteral("-o names one file: with several loggers, give a directory with -d"));
    Station::DownloadTarget target;
    if (int code = archiveLocation(args, &target.archive))
        return code;
    target.forceFull = args.isSet(QStringLiteral("full"));
    target.directory = args.value(QStringLiteral("directory"));
    if (!target.directory.isEmpty() && !QFileInfo(target.directory).isDir())
        return fail(FileError, QStringLiteral("cannot write into %1: no such directory").arg(target.directory));

    // --port limits --all to the ports named: only those are opened.
    const QStringList ports = named.isEmpty() ? PortWatcher::stationPortNames({}) : named;
    const QList<Station::DownloadReport> reports = Station::downloadAll(ports, target, &interrupted);
    bool archived = true;
    int read = 0, shown = 0;
    for (const Station::DownloadReport &r : reports) {
        // Of all the system's ports, only those with a logger are of interest.
        if (all && r.outcome == Station::DownloadOutcome::NoLogger)
            continue;
        ++shown;
        printReport(r, args.isSet(jsonOption()));
        if (r.outcome == Station::DownloadOutcome::Read)
            ++read;
        else
            message(r.port + QStringLiteral(": ") + r.error);
        if (!r.archiveError.isEmpty()) {
            archived = false;
            message(r.port + QStringLiteral(": the export file was written, but the archive step failed: ") + r.archiveError);
        }
    }
    if (all && shown == 0)
        return fail(Failure, QStringLiteral("no logger found on ") + (ports.isEmpty() ? QStringLiteral("any port") : ports.join(QStringLiteral(", "))));
    return read == shown && archived && !interrupted() ? Success : Failure;
}

int serve(const QCommandLineParser &args)
{
    QHostAddress address;
    quint16 httpPort = 0;
    const QString listen = args.value(QStringLiteral("listen"));
    if (!Station::parseListenAddress(listen, &address, &httpPort))
        return fail(Usage, QStringLiteral("--listen takes ADDRESS:PORT, e.g. 127.0.0.1:%1").arg(Station::DEFAULT_HTTP_PORT));
    bool ok = false;
    const double interval = args.value(QStringLiteral("interval")).toDouble(&ok);
    if (!ok || interval < 0.1 || interval > 86400)
        return fail(Usage, QStringLiteral("--interval takes seconds, from 0.1 to 86400"));
    Station::WorkerOptions options;
    options.intervalMs = int(interval * 1000);
    options.downloadDirectory = args.value(QStringLiteral("download-on-plug"));
    options.ports = args.values(portOption());
    if (int code = archiveLocation(args, &options.archive))
        return code;
    if (args.isSet(QStringLiteral("download-on-plug")) && !QFileInfo(options.downloadDirectory).isDir())
        return fail(FileError, QStringLiteral("cannot write into %1: no such directory").arg(options.downloadDirectory));
    StationAlarms alarms;
    if (int code = alarms.read(args, options))
        return code;

    Station::WebConfig web;
    QString error;
    if (args.isSet(QStringLiteral("web-config"))) {
        const Station::WebConfigError e = Station::loadWebConfig(args.value(QStringLiteral("web-config")), &web, &error);
        if (e != Station::WebConfigError::None)
            return fail(e == Station::WebConfigError::Unreadable ? FileError : Usage, QStringLiteral("--web-config ") + error);
    }

    Station::Monitor monitor(options);
    std::unique_ptr<Station::MqttPublisher> mqtt;
    if (int code = startMqtt(args, options.intervalMs, monitor, &mqtt))
        return code;
    Station::MetricsServer server([&monitor] { return monitor.metricReadings(); });
    server.setWebConfig(web);
    if (mqtt)
        server.setMqttFailureSource([publisher = mqtt.get()] { return publisher->failures(); });
    if (!server.listen(address, httpPort, &error))
        return fail(Usage, QStringLiteral("cannot listen on %1: %2 (another program may use that port; choose another with --listen)")
                               .arg(listen, error));
    QObject::connect(&monitor, &Station::Monitor::loggerFound, [](const QString &port, const LoggerStatus &s) {
        message(QStringLiteral("logger %1 (%2) on %3").arg(formatDeviceAddress(s.address), typeText(s.deviceType), port));
    });
    QObject::connect(&monitor, &Station::Monitor::loggerLost, [](const QString &port, const LoggerStatus &s) {
        message(QStringLiteral("logger %1 on %2 stopped answering").arg(formatDeviceAddress(s.address), port));
    });
    QObject::connect(&monitor, &Station::Monitor::loggerBack, [](const QString &port, const LoggerStatus &s) {
        message(QStringLiteral("logger %1 on %2 answers again").arg(formatDeviceAddress(s.address), port));
    });
    QObject::connect(&monitor, &Station::Monitor::portError, [](const QString &port, const QString &, const QString &systemReason) {
        message(Device::openFailureText(port, systemReason));
    });
    QObject::connect(&monitor, &Station::Monitor::downloaded, [](const Station::DownloadReport &r) {
        printReport(r, false);
        if (r.outcome != Station::DownloadOutcome::Read)
            message(r.port + QStringLiteral(": ") + r.error);
        if (!r.archiveError.isEmpty())
            message(r.port + QStringLiteral(": the export file was written, but the archive step failed: ") + r.archiveError);
    });
    alarms.start(monitor, server);
    monitor.start();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                                                                              : address.toString();
    message(QStringLiteral("serving %1://%2:%3/metrics").arg(web.tls ? QStringLiteral("https") : QStringLiteral("http"), host)
                .arg(server.serverPort()));

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [] {
        if (interrupted())
            QCoreApplication::quit();
    });
    watch.start(50);
    QCoreApplication::exec();
    if (!monitor.stop(1900))
        return fail(Failure, QStringLiteral("a port did not let go in time"));
    return Success;
}

} // namespace Cli
