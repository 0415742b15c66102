// The station: its exposition text, vantorel-cli serve scraped over HTTP and by a real
// Prometheus server, and read of several loggers at once, against simulated loggers on ptys.

#include "downloaddriver.h"
#include "alarms.h"
#include "metrics.h"
#include "portwatcher.h"
#include "quantities.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

using Loggers = std::vector<std::unique_ptr<sim::PtyLogger>>;

// Simulated loggers of these types, serial numbers 00011111, 00022222..., with a fixed
// live temperature of 21.5 °C (types 1 and 3) and that many bytes recorded.
Loggers startLoggers(const QString &directory, const QList<int> &types, quint32 usedBytes = 4000)
{
    Loggers loggers;
    for (int i = 0; i < types.size(); ++i) {
        sim::LoggerConfig config = frozenLogger(types[i], usedBytes);
        config.address = 0x11111 * quint32(i + 1);
        loggers.push_back(std::make_unique<sim::PtyLogger>(QStringLiteral("%1/tty%2").arg(directory).arg(i), config));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        loggers.back()->withLogger([type = types[i]](sim::SimulatedLogger &l) {
            l.setLiveValue(0x40, type == 1 ? QByteArray("\x58\x01") : QByteArray("\xDE\x17"));
        });
    }
    return loggers;
}

QProcess *startCli(const QStringList &args, const Loggers &loggers, const QString &directory)
{
    QStringList links;
    for (const auto &logger : loggers)
        links << logger->linkPath();
    // The time-out base of the window's tests: on a loaded machine a logger answers late, and a
    // port whose probe timed out is probed again only a minute later.
    QFile config(directory + QStringLiteral("/config.ini"));
    if (!config.exists() && config.open(QIODevice::WriteOnly))
        config.write("[COM_TIMEOUT]\nBASE=150\n");
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), links.join(QLatin1Char(':')));
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(directory);
    process->start(QStringLiteral(VANTOREL_CLI), args);
    return process;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

struct Reply { int status = 0; QByteArray type, body; };

Reply get(const QString &url, const QByteArray &verb = "GET")
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.sendCustomRequest(QNetworkRequest(QUrl(url)), verb);
    waitFor([reply] { return reply->isFinished(); }, 10000);
    Reply r{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
    delete reply;
    return r;
}

// The value of the first sample whose line starts with `prefix`; -1 when there is none.
double sample(const QByteArray &body, const QByteArray &prefix)
{
    for (const QByteArray &line : body.split('\n'))
        if (line.startsWith(prefix))
            return line.mid(line.lastIndexOf(' ') + 1).toDouble();
    return -1;
}

bool scrapeShows(quint16 port, const QByteArray &line, int timeoutMs = 30000)
{
    return waitFor([&] { return get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).body.contains(line); }, timeoutMs);
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

} // namespace

Q_DECLARE_METATYPE(LiveValue)

class tst_Station : public QObject
{
    Q_OBJECT

private slots:
    void exposition_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<LiveValue>>("values");
        QTest::addColumn<QStringList>("lines");     // sample lines that must be there
        QTest::addColumn<QString>("absent");        // a metric that must not be there
        const auto v = [](const char *name, double value, int decimals, bool known = true) {
            return LiveValue{name, value, "", decimals, known};
        };
        QTest::newRow("temperature and humidity") << 3 << QList<LiveValue>{v("temperature", 20.94, 1), v("humidity", 55.7, 1)}
            << QStringList{"vantorel_temperature_celsius{channel=\"1\",serial=\"00012345\"} 20.9",
                           "vantorel_relative_humidity_ratio{serial=\"00012345\"} 0.557",
                           "vantorel_logger_info{model=\"Temp/Hygro\",port=\"ttyUSB0\",serial=\"00012345\",type=\"3\",version=\"12\"} 1"}
            << "vantorel_power_watts";
        QTest::newRow("thermocouples, T1 unknown") << 6 << QList<LiveValue>{v("t1", 0, 1, false), v("t2", 225, 1), v("batteryVoltage", 3.6, 1)}
            << QStringList{"vantorel_temperature_celsius{channel=\"2\",serial=\"00012345\"} 225",
                           "vantorel_battery_voltage_volts{serial=\"00012345\"} 3.6"}
            << "vantorel_temperature_celsius{channel=\"1\"";
        QTest::newRow("wattmeter") << 7 << QList<LiveValue>{v("activePower", 78, 1), v("voltage", 229.24, 2), v("current", 0.384, 2), v("powerFactor", 0.9, 2)}
            << QStringList{"vantorel_power_watts{serial=\"00012345\"} 78", "vantorel_voltage_volts{serial=\"00012345\"} 229.24",
                           "vantorel_current_amperes{serial=\"00012345\"} 0.38", "vantorel_power_factor_ratio{serial=\"00012345\"} 0.9"}
            << "vantorel_temperature_celsius";
        QTest::newRow("lamp and pulses") << 8 << QList<LiveValue>{v("onTime", 12, 0), v("totalOnTime", 7300, 0), v("light", 140, 0), v("lampOn", 1, 0), v("pulses", 4321, 0)}
            << QStringList{"vantorel_lamp_on_time_seconds{serial=\"00012345\"} 12", "vantorel_lamp_on_seconds_total{serial=\"00012345\"} 7300",
                           "vantorel_light_level{serial=\"00012345\"} 140", "vantorel_lamp_on{serial=\"00012345\"} 1",
                           "vantorel_pulses_total{serial=\"00012345\"} 4321", "# TYPE vantorel_pulses_total counter",
                           "# TYPE vantorel_lamp_on_seconds_total counter"}
            << "vantorel_relative_humidity_ratio";
    }

    void exposition()
    {
        QFETCH(int, type);
        QFETCH(QList<LiveValue>, values);
        Station::PortReading up;
        up.port = "ttyUSB0", up.up = true, up.values = values, up.readAt = QDateTime::fromSecsSinceEpoch(1796626679, Qt::UTC);
        up.status.address = 0x12345, up.status.deviceType = quint8(type), up.status.version = 12;
        up.status.usedBytes = 4004, up.status.recordSize = 4, up.status.freeMemoryPercent = 96;
        // Its clock 90 s ahead of the station's local time, its battery at the top of "low".
        const QDateTime local = up.readAt.toLocalTime();
        up.status.loggerTime = QDateTime(local.date(), local.time(), Qt::UTC).addSecs(90);
        up.batteryRead = true, up.status.batteryCode = 3;
        Station::PortReading down = up;
        down.port = "ttyUSB1", down.up = false, down.readAt = {};
        const QString text = QString::fromUtf8(Station::metricsText({up, down}));
        QFETCH(QStringList, lines);
        lines << "vantorel_up{port=\"ttyUSB0\"} 1" << "vantorel_up{port=\"ttyUSB1\"} 0"
              << "vantorel_records_stored{serial=\"00012345\"} 1001" << "vantorel_memory_free_ratio{serial=\"00012345\"} 0.96"
              << "vantorel_last_reading_timestamp_seconds{serial=\"00012345\"} 1796626679"
              << "vantorel_battery_level{serial=\"00012345\"} 3" << "vantorel_clock_offset_seconds{serial=\"00012345\"} 90";
        for (const QString &line : std::as_const(lines))
            QVERIFY2(text.split('\n').contains(line), qPrintable(line + "\n" + text));
        QFETCH(QString, absent);
        QVERIFY2(!text.contains(absent), qPrintable(text));
        // The logger that did not answer shows vantorel_up 0 and nothing else.
        QCOMPARE(text.count("ttyUSB1"), 1);
        // Every sample has its HELP and TYPE, and no time stamp.
        for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('#'))
                continue;
            const QString name = line.section('{', 0, 0).section(' ', 0, 0);
            QVERIFY2(text.contains("# HELP " + name + " ") && text.contains("# TYPE " + name + " "), qPrintable(line));
            QCOMPARE((line.contains('}') ? line.section('}', 1) : line.section(' ', 1)).split(' ', Qt::SkipEmptyParts).size(), 1);
        }
    }

    // The shipped dashboard and alerting rules query only metrics the station exposes.
    void shippedQueriesNameExposedMetrics()
    {
        Station::PortReading all;
        all.port = "ttyUSB0", all.up = true, all.batteryRead = true, all.readAt = QDateTime::currentDateTimeUtc();
        for (const Quantity &q : liveQuantities())
            all.values.append({q.name, 1, "", 0, true});
        Station::AlarmSnapshot alarms;
        alarms.alarms.append({"a", "00000000", "1", "temperature", 0, Station::AlarmKind::High, true, 1.0, 2.0});
        QSet<QString> exposed;
        for (const QString &line : QString::fromUtf8(Station::metricsText({all}, &alarms)).split('\n'))
            if (line.startsWith("# TYPE "))
                exposed.insert(line.section(' ', 2, 2));
        QJsonParseError parsed;
        const QByteArray dashboard = readFile(VANTOREL_DASHBOARD);
        QJsonDocument::fromJson(dashboard, &parsed);
        QVERIFY2(parsed.error == QJsonParseError::NoError, qPrintable(parsed.errorString()));
        // Every metric either file names, in its queries or its texts.
        const QString shipped = QString::fromUtf8(dashboard + readFile(VANTOREL_ALERT_RULES));
        QVERIFY(shipped.count("vantorel_") > 20);
        for (const QRegularExpressionMatch &m : QRegularExpression("\\bvantorel_[a-z_]+").globalMatch(shipped))
            QVERIFY2(exposed.contains(m.captured()), qPrintable(m.captured()));
    }

    // A logger falls silent and answers again (re-plugs: replugAndSwapBackUpAtOnce).
    void serveFollowsItsLoggers()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3, 1});
        const quint16 port = freePort();
        QDir(dir.path()).mkdir("plug");
        std::unique_ptr<QProcess> serve(startCli({"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port), "--interval", "1",
                                                  "--download-on-plug", "plug"}, loggers, dir.path()));
        const QString a = loggers[0]->linkPath(), b = loggers[1]->linkPath();
        QVERIFY(scrapeShows(port, "vantorel_up{port=\"" + b.toUtf8() + "\"} 1"));
        const Reply metrics = get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
        QCOMPARE(metrics.type, QByteArray("text/plain; version=0.0.4; charset=utf-8"));
        QVERIFY(scrapeShows(port, "vantorel_temperature_celsius{channel=\"1\",serial=\"00011111\"} 21.5\n"));
        QVERIFY(metrics.body.contains("vantorel_temperature_celsius{channel=\"1\",serial=\"00022222\"} 21.5\n"));
        QVERIFY(get(QStringLiteral("http://127.0.0.1:%1/").arg(port)).body.contains("00022222"));
        QCOMPARE(get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port), "POST").status, 405);
        QCOMPARE(get(QStringLiteral("http://127.0.0.1:%1/config").arg(port)).status, 404);

        const auto silent = [&](bool on) { loggers[1]->withLogger([on](sim::SimulatedLogger &l) { l.faults().silent = on; }); };
        silent(true);
        QVERIFY(scrapeShows(port, "vantorel_up{port=\"" + b.toUtf8() + "\"} 0"));
        // Its readings go; what was counted of it (its download) stays.
        QVERIFY(!get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).body.contains("_celsius{channel=\"1\",serial=\"00022222\"}"));
        silent(false);
        QVERIFY(scrapeShows(port, "vantorel_temperature_celsius{channel=\"1\",serial=\"00022222\"} 21.5"));
        QVERIFY(get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).body.contains("vantorel_up{port=\"" + a.toUtf8() + "\"} 1"));
        // Another logger in the cradle of the first, its adapter left plugged in: told as found.
        loggers[1]->withLogger([](sim::SimulatedLogger &l) { l.setAddress(0x33333); });
        QByteArray told;
        QVERIFY(waitFor([&] { return (told += serve->readAllStandardError()).contains("logger 00033333 (Temperature) on " + b.toUtf8()); }, 30000));

        // A second station on the same port is refused; SIGTERM ends the first one cleanly.
        std::unique_ptr<QProcess> second(startCli({"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)}, loggers, dir.path()));
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 2);
        QVERIFY(second->readAllStandardError().contains("cannot listen on 127.0.0.1:"));
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
        QCOMPARE(serve->exitStatus(), QProcess::NormalExit);
        QCOMPARE(serve->exitCode(), 0);
        // Found once, told when it stopped and when it answered again.
        told += serve->readAllStandardError();
        QCOMPARE(told.count("logger 00022222 (Temperature) on " + b.toUtf8()), 1);
        QVERIFY2(told.contains("logger 00022222 on " + b.toUtf8() + " stopped answering\n") && told.contains("logger 00022222 on " + b.toUtf8() + " answers again\n"), told.constData());

        // The logger found at start was downloaded into the directory, as a single read writes it.
        const QStringList plugged = QDir(dir.filePath("plug")).entryList({"00011111_*"}, QDir::Files);
        QCOMPARE(plugged.size(), 1);
        std::unique_ptr<QProcess> single(startCli({"read", "--port", a, "-o", "single.tsv"}, {}, dir.path()));
        QVERIFY(single->waitForFinished(60000));
        QCOMPARE(readFile(dir.filePath("plug/" + plugged[0])), readFile(dir.filePath("single.tsv")));
    }

    void readAllMatchesSingleReads_data()
    {
        QTest::addColumn<int>("unplugAfter");   // >= 0: the third logger is pulled out after that many requests
        QTest::addColumn<int>("lostBlock");     // answers of its fourth block lost, its attempts all lost at 5
        QTest::newRow("three loggers") << -1 << 0;
        QTest::newRow("one pulled out during its download") << 150 << 0;
        QTest::newRow("a block lost at every attempt: woken, read again") << -1 << 5;
    }

    void readAllMatchesSingleReads()
    {
        QFETCH(int, unplugAfter);
        QFETCH(int, lostBlock);
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3, 7, 1}, 20000);
        loggers[2]->withLogger([&](sim::SimulatedLogger &l) {
            l.faults().unplugAfterRequests = unplugAfter;
            l.faults().unansweredReadsOf = 0x02000000 + 192, l.faults().unansweredReadCount = lostBlock;
        });
        QDir(dir.path()).mkdir("all");
        std::unique_ptr<QProcess> all(startCli({"read", "--all", "-d", "all", "--json"}, loggers, dir.path()));
        QVERIFY(all->waitForFinished(120000));
        QCOMPARE(all->exitCode(), unplugAfter < 0 ? 0 : 1);
        const QList<QByteArray> summary = all->readAllStandardOutput().split('\n');
        QCOMPARE(summary.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject row = QJsonDocument::fromJson(summary[i]).object();
            const QString serial = QStringLiteral("000%1").arg(11111 * (i + 1));
            QCOMPARE(row["port"].toString(), loggers[i]->linkPath());
            QCOMPARE(row["serialNumber"].toString(), serial);
            const QStringList written = QDir(dir.filePath("all")).entryList({serial + "_*"}, QDir::Files | QDir::Hidden);
            if (i == 2 && unplugAfter >= 0) {
                QCOMPARE(row["result"].toString(), "line failed");
                QCOMPARE(written, QStringList());
                continue;
            }
            QCOMPARE(row["result"].toString(), "read");
            QCOMPARE(row["records"].toInt(), 20000 / (i == 0 || i == 1 ? 4 : 2));
            QCOMPARE(written.size(), 1);
            QCOMPARE(row["file"].toString(), "all/" + written[0]);
            std::unique_ptr<QProcess> single(startCli({"read", "--port", loggers[i]->linkPath(), "-o", "single.tsv"}, {}, dir.path()));
            QVERIFY(single->waitForFinished(60000));
            QCOMPARE(single->exitCode(), 0);
            // read --all stored its download: the single read after it reads only what is new.
            QVERIFY(single->readAllStandardError().contains("new since the last download"));
            QCOMPARE(readFile(dir.filePath("all/" + written[0])), readFile(dir.filePath("single.tsv")));
        }
    }

    void probeTellsLoggersFromOtherPorts_data()
    {
        QTest::addColumn<qint64>("unanswered");  // >= 0: reads of that register are never answered
        QTest::addColumn<double>("corruptRate");
        QTest::addColumn<QByteArray>("shown");   // what ports --probe shows for the second port
        QTest::newRow("logger") << qint64(-1) << 0.0 << QByteArray("\tTemperature\t00022222\n");
        QTest::newRow("silent port") << qint64(0x02) << 0.0 << QByteArray("\tnone\n");
        QTest::newRow("status never whole") << qint64(0x01000020) << 0.0 << QByteArray("\tnone\n");
        QTest::newRow("port answering garbage") << qint64(-1) << 1.0 << QByteArray("\tnone\n");
    }

    void probeTellsLoggersFromOtherPorts()
    {
        QFETCH(qint64, unanswered);
        QFETCH(double, corruptRate);
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3, 1});
        loggers[1]->withLogger([&](sim::SimulatedLogger &l) { l.faults().unansweredReadsOf = unanswered, l.faults().corruptByteRate = corruptRate; });
        std::unique_ptr<QProcess> probe(startCli({"ports", "--probe"}, loggers, dir.path()));
        QVERIFY(probe->waitForFinished(60000));
        QCOMPARE(probe->exitCode(), 0);
        const QByteArray out = probe->readAllStandardOutput();
        QVERIFY2(out.contains(loggers[0]->linkPath().toUtf8() + "\tTemp/Hygro\t00011111\n"), out.constData());
        QFETCH(QByteArray, shown);
        QVERIFY2(out.contains(loggers[1]->linkPath().toUtf8() + shown), out.constData());
    }

    void replugAndSwapBackUpAtOnce_data()
    {
        QTest::addColumn<bool>("swap");      // else the same logger comes back
        QTest::addColumn<bool>("inPlace");   // the other logger behind a port that stays open
        QTest::newRow("quick re-plug") << false << false;
        QTest::newRow("another logger on the same path") << true << false;
        QTest::newRow("another logger, the port left open") << true << true;
    }

    void replugAndSwapBackUpAtOnce()
    {
        QFETCH(bool, swap);
        QFETCH(bool, inPlace);
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3});
        sim::PtyLogger &a = *loggers[0];
        sim::LoggerConfig other = frozenLogger(1, 4000);
        other.address = 0x22222;
        sim::PtyLogger b(a.linkPath(), other);
        const quint16 port = freePort();
        QDir(dir.path()).mkdir("plug");
        std::unique_ptr<QProcess> serve(startCli({"serve", "--listen", QString::number(port), "--interval", "1",
                                                  "--download-on-plug", "plug"}, loggers, dir.path()));
        QVERIFY(scrapeShows(port, "vantorel_up{port=\"" + a.linkPath().toUtf8() + "\"} 1"));
        const sim::LoggerConfig first = a.read<sim::LoggerConfig>([](sim::SimulatedLogger &l) { return l.config(); });
        const auto downloaded = [&](const QString &serial) { return !QDir(dir.filePath("plug")).entryList({serial + "_*"}, QDir::Files).isEmpty(); };
        QVERIFY(waitFor([&] { return downloaded("00011111"); }, 30000));
        bool onA = true;
        for (int round = 0; round < 5; ++round) {
            // Out for 0.05 to 0.3 s: often between two looks of the port watcher.
            if (!inPlace) {
                onA ? a.unplug() : b.stop();
                QTest::qWait(50 + 80 * round);
            }
            onA = swap ? !onA : onA;
            const double pluggedAt = QDateTime::currentMSecsSinceEpoch() / 1000.0;
            if (inPlace)
                a.withLogger([&](sim::SimulatedLogger &l) { l = sim::SimulatedLogger(l.config().address == other.address ? first : other); });
            else
                QVERIFY(onA ? (a.replug(), true) : b.start());
            const QByteArray serial = onA ? "00011111" : "00022222";
            QElapsedTimer clock;
            clock.start();
            QVERIFY(waitFor([&] {
                return sample(get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).body,
                              "vantorel_last_reading_timestamp_seconds{serial=\"" + serial + "\"}") >= pluggedAt - 1;
            }, 30000));
            // 3 s is the target at --interval 1; the bound leaves room for a loaded machine.
            QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
        }
        // The logger now on the path is downloaded, also when it came on a path already open.
        QVERIFY(waitFor([&] { return downloaded(onA ? "00011111" : "00022222"); }, 30000));
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
    }

    void serveTellsAndCountsFailures()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3});
        sim::PtyLogger &a = *loggers[0];
        a.unplug();
        const QString file = dir.filePath("notaport");
        QVERIFY(writeText(file, "text"));
        qputenv("VANTOREL_EXTRA_PORTS", (a.linkPath() + ":" + file).toUtf8());
        const quint16 port = freePort();
        QDir(dir.path()).mkdir("plug");
        QProcess serve;
        serve.setWorkingDirectory(dir.path());
        serve.start(QStringLiteral(VANTOREL_CLI), {"serve", "--listen", QString::number(port), "--interval", "1", "--download-on-plug", "plug"});
        qunsetenv("VANTOREL_EXTRA_PORTS");
        const QByteArray errors = "vantorel_port_errors_total{port=\"" + file.toUtf8() + "\",reason=\"not_serial\"} ";
        QVERIFY(scrapeShows(port, errors + "1"));
        // Plugged again (a new file behind the path): opened at once, counted, not told again.
        QVERIFY(writeText(file + ".new", "text") && QFile::remove(file) && QFile::rename(file + ".new", file));
        QVERIFY(scrapeShows(port, errors + "2"));

        // A download that cannot write its file is tried again, and counted both ways.
        QVERIFY(QDir(dir.filePath("plug")).removeRecursively());
        a.replug();
        QVERIFY(scrapeShows(port, "vantorel_downloads_total{result=\"failed\",serial=\"00011111\"} 1"));
        QVERIFY(QDir(dir.path()).mkdir("plug"));
        QVERIFY(scrapeShows(port, "vantorel_downloads_total{result=\"ok\",serial=\"00011111\"} 1"));
        QCOMPARE(QDir(dir.filePath("plug")).entryList({"00011111_*"}, QDir::Files).size(), 1);
        const QByteArray page = get(QStringLiteral("http://127.0.0.1:%1/").arg(port)).body;
        QVERIFY2(page.contains("temperature 21.5") && page.contains(QDate::currentDate().toString(Qt::ISODate).toUtf8()), page.constData());
        serve.terminate();
        QVERIFY(serve.waitForFinished(10000));
        const QByteArray told = serve.readAllStandardError();
        QCOMPARE(told.count("cannot open the port " + file.toUtf8() + ": "), 1);
        QVERIFY2(told.contains("(not a serial port)"), told.constData());
    }

    void lossyLineStaysUp()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3});
        loggers[0]->withLogger([](sim::SimulatedLogger &l) { l.faults().corruptByteRate = 0.01, l.faults().dropAnswerRate = 0.02; });
        const quint16 port = freePort();
        std::unique_ptr<QProcess> serve(startCli({"serve", "--listen", QString::number(port), "--interval", "0.5"}, loggers, dir.path()));
        const QByteArray up = "vantorel_up{port=\"" + loggers[0]->linkPath().toUtf8() + "\"} ";
        QVERIFY(scrapeShows(port, up + "1"));
        int down = 0;
        for (int scrape = 0; scrape < 200; ++scrape, QTest::qWait(100))
            down += get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).body.contains(up + "0");
        // A lost answer is asked again within the interval: the logger is up in 99 % of scrapes.
        QVERIFY2(down <= 2, qPrintable(QString::number(down)));
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
        QVERIFY(!serve->readAllStandardError().contains("stopped answering"));
    }

    void sigtermJoinsEveryWorker_data()
    {
        QTest::addColumn<bool>("silentArchive");   // the downloads' archive accepts, then never answers
        QTest::newRow("in a download") << false;
        QTest::newRow("in the archive's connect") << true;
    }

    void sigtermJoinsEveryWorker()
    {
        QFETCH(bool, silentArchive);
        ScratchDirectory dir;
        // One logger in a long download on a paced line, one port that never answers.
        Loggers loggers = startLoggers(dir.path(), {3, 1});
        loggers[1]->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
        sim::LineConfig line;
        line.baudRate = 115200;
        sim::LoggerConfig slow = frozenLogger(7, 120000);
        slow.address = 0x33333;
        loggers.push_back(std::make_unique<sim::PtyLogger>(dir.filePath("slow"), slow, sim::FaultConfig(), line));
        QVERIFY(loggers.back()->start());
        QDir(dir.path()).mkdir("plug");
        QTcpServer archive;
        QVERIFY(archive.listen(QHostAddress::LocalHost));
        const QStringList archiveArgs{"--archive", QStringLiteral("postgresql://vantorel@127.0.0.1:%1/vantorel").arg(archive.serverPort())};
        std::unique_ptr<QProcess> serve(startCli(QStringList{"serve", "--listen", QString::number(freePort()), "--interval", "1",
                                                             "--download-on-plug", "plug"} + (silentArchive ? archiveArgs : QStringList()),
                                                 loggers, dir.path()));
        if (silentArchive)
            QVERIFY(waitFor([&] { return archive.hasPendingConnections(); }, 30000));
        else
            QVERIFY(waitFor([&] { return loggers[2]->read<quint64>([](sim::SimulatedLogger &l) { return l.bytesReceived(); }) > 2000; }, 30000));
        QElapsedTimer stopping;
        stopping.start();
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
        // Exit status 1 when a worker did not end within 2 s; the margin is for a loaded machine.
        QCOMPARE(serve->exitStatus(), QProcess::NormalExit);
        QCOMPARE(serve->exitCode(), 0);
        QVERIFY2(stopping.elapsed() < 4000, qPrintable(QString::number(stopping.elapsed())));
        QCOMPARE(QDir(dir.filePath("plug")).entryList({"00033333_*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void watcherSeesPathComeBackBetweenLooks()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3});
        qputenv("VANTOREL_EXTRA_PORTS", loggers[0]->linkPath().toUtf8());
        std::unique_ptr<PortWatcher> watcher(PortWatcher::forStation({}, nullptr, 200));
        QSignalSpy removed(watcher.get(), &PortWatcher::portRemoved), attached(watcher.get(), &PortWatcher::portAttached);
        // Gone and back before the watcher looks again: a new device behind the same path.
        loggers[0]->unplug();
        loggers[0]->replug();
        QTRY_COMPARE_WITH_TIMEOUT(attached.count(), 1, 10000);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(attached.at(0).at(0).toString(), loggers[0]->linkPath());
        qunsetenv("VANTOREL_EXTRA_PORTS");
    }

    void defaultPortsAreUsbAdaptersAndExtraPaths_data()
    {
        QTest::addColumn<QStringList>("extra");   // VANTOREL_EXTRA_PORTS
        QTest::addColumn<QStringList>("named");   // --port
        QTest::addColumn<QStringList>("chosen");  // as `ports` lists them
        const QString usb = "ttyUSB0\tused\tUSB serial adapter", uart = "ttyS0\tnot used\tnot a USB serial adapter (a built-in "
                                                                             "port or console: name it with --port)";
        QTest::newRow("by default") << QStringList() << QStringList() << QStringList{usb, uart};
        QTest::newRow("extra paths, one absent") << QStringList{"/tmp/pty1", "/tmp/gone"} << QStringList()
            << QStringList{usb, uart, "/tmp/pty1\tused\tnamed in VANTOREL_EXTRA_PORTS",
                           "/tmp/gone\tnot used\tnamed in VANTOREL_EXTRA_PORTS, but absent"};
        QTest::newRow("the UART by its location in the extra paths") << QStringList{"/dev/ttyS0"} << QStringList()
            << QStringList{usb, "ttyS0\tused\tnamed in VANTOREL_EXTRA_PORTS"};
        QTest::newRow("the UART named") << QStringList{"/tmp/pty1"} << QStringList{"ttyS0"}
            << QStringList{"ttyUSB0\tnot used\tnot named with --port", "ttyS0\tused\tnamed with --port",
                           "/tmp/pty1\tnot used\tnot named with --port"};
        QTest::newRow("named by location, one absent") << QStringList() << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB9"}
            << QStringList{"ttyUSB0\tused\tnamed with --port", "ttyS0\tnot used\tnot named with --port",
                           "/dev/ttyUSB9\tnot used\tnamed with --port, but absent"};
    }

    void defaultPortsAreUsbAdaptersAndExtraPaths()
    {
        QFETCH(QStringList, extra);
        QFETCH(QStringList, named);
        const QList<PortDescription> system{{"ttyUSB0", "/dev/ttyUSB0", true}, {"ttyS0", "/dev/ttyS0", false}};
        QStringList chosen;
        for (const PortChoice &c : choosePorts(system, extra, named, [](const QString &path) { return path == "/tmp/pty1"; }))
            chosen << c.name + '\t' + (c.used ? "used" : "not used") + '\t' + c.why;
        QTEST(chosen, "chosen");
    }

    void namedPortLeavesOthersAlone_data()
    {
        QTest::addColumn<QStringList>("args");   // --port A follows
        QTest::newRow("serve") << QStringList{"serve", "--interval", "1", "--listen", QString::number(freePort())};
        QTest::newRow("ports --probe") << QStringList{"ports", "--probe"};
        QTest::newRow("read --all") << QStringList{"read", "--all", "-d", "."};
        QTest::newRow("ports") << QStringList{"ports"};
    }

    void namedPortLeavesOthersAlone()
    {
        QFETCH(QStringList, args);
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3, 1});
        const QString a = loggers[0]->linkPath(), b = loggers[1]->linkPath();
        std::unique_ptr<QProcess> cli(startCli(args + QStringList{"--port", a}, loggers, dir.path()));
        if (args[0] == "serve") {
            QByteArray told;
            QVERIFY(waitFor([&] { return (told += cli->readAllStandardError()).contains("logger 00011111"); }, 30000));
            // A bare port is told with the address it really listens on.
            QVERIFY2(told.contains("serving http://127.0.0.1:" + args.last().toUtf8() + "/metrics"), told.constData());
            cli->terminate();
        }
        QVERIFY(cli->waitForFinished(60000));
        QCOMPARE(cli->exitCode(), 0);
        const QByteArray out = cli->readAllStandardOutput();
        if (args == QStringList{"ports"}) {
            QVERIFY2(out.contains(a.toUtf8() + "\tused\tnamed with --port\n"), out.constData());
            QVERIFY2(out.contains(b.toUtf8() + "\tnot used\tnot named with --port\n"), out.constData());
        } else if (args[0] != "serve") {
            QVERIFY2(out.contains(a.toUtf8()) && !out.contains(b.toUtf8()), out.constData());
        }
        // Not one byte went to the logger that was not named.
        QCOMPARE(loggers[1]->read<quint64>([](sim::SimulatedLogger &l) { return l.bytesReceived(); }), quint64(0));
        QVERIFY(loggers[0]->read<quint64>([](sim::SimulatedLogger &l) { return l.bytesReceived(); }) > 0 || args == QStringList{"ports"});
    }

    void alarmsFollowTheLiveValue()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {1});
        const auto setTemperature = [&](const QByteArray &sixteenths) {
            loggers[0]->withLogger([sixteenths](sim::SimulatedLogger &l) { l.setLiveValue(0x40, sixteenths); });
        };
        std::unique_ptr<QProcess> missing(startCli({"serve", "--alarms", "missing.ini"}, loggers, dir.path()));
        QVERIFY(missing->waitForFinished(10000));
        QCOMPARE(missing->exitCode(), 2);
        QVERIFY(missing->readAllStandardError().contains("missing.ini: cannot read the alarms file"));

        QVERIFY(writeText(dir.filePath("alarms.ini"), "[freezer]\nserial=00011111\nquantity=temperature\nhigh=25\n"
                                                      "delay=3\nclear_delay=1\nhysteresis=1\noffline_after=2\n"));
        QVERIFY(writeText(dir.filePath("notify.sh"), "env | grep ^VANTOREL_ALARM_ | sort >> \"$1\"\necho >> \"$1\"\nexit 3\n"));
        const quint16 port = freePort();
        std::unique_ptr<QProcess> serve(startCli({"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port), "--interval", "1",
                                                  "--alarms", "alarms.ini", "--alarm-command", "/bin/sh notify.sh env.txt",
                                                  "--archive", "archive.sqlite"}, loggers, dir.path()));
        const QByteArray labels = "{alarm=\"high\",channel=\"1\",name=\"freezer\",quantity=\"temperature\",serial=\"00011111\"} ";
        const QByteArray active = "vantorel_alarm_active" + labels, temperature = "vantorel_temperature_celsius{channel=\"1\",serial=\"00011111\"} ";
        QVERIFY(scrapeShows(port, active + "0\n"));
        QVERIFY(scrapeShows(port, "vantorel_alarm_threshold" + labels + "25\n"));

        // Back inside within the delay: no alarm.
        setTemperature("\xE0\x01");   // 30 °C
        QVERIFY(scrapeShows(port, temperature + "30\n"));
        setTemperature("\x58\x01");   // 21.5 °C
        QVERIFY(scrapeShows(port, temperature + "21.5\n"));
        QVERIFY(!scrapeShows(port, active + "1\n", 4000));

        // Out for good: started after the delay, within two intervals more (and a margin for a loaded machine).
        setTemperature("\xE0\x01");
        QElapsedTimer out;
        out.start();
        QVERIFY(scrapeShows(port, active + "1\n"));
        QVERIFY2(out.elapsed() >= 3000 && out.elapsed() <= 3000 + 2 * 1000 + 2000, qPrintable(QString::number(out.elapsed())));
        // Back, but within the hysteresis: still active; back beyond it: cleared.
        setTemperature("\x88\x01");   // 24.5 °C
        QVERIFY(scrapeShows(port, temperature + "24.5\n"));
        QVERIFY(!scrapeShows(port, active + "0\n", 3000));
        setTemperature("\x58\x01");
        QVERIFY(scrapeShows(port, active + "0\n"));
        QVERIFY(scrapeShows(port, "vantorel_alarm_failures_total{what=\"command\"} 2\n"));
        // Pulled out: nothing is read any more, yet the offline alarm starts.
        loggers[0]->unplug();
        QVERIFY(scrapeShows(port, "vantorel_alarm_active{alarm=\"offline\",channel=\"\",name=\"freezer\",quantity=\"up\",serial=\"00011111\"} 1\n"));
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
        QCOMPARE(serve->exitCode(), 0);
        const QByteArray errors = serve->readAllStandardError();
        QVERIFY2(errors.contains("alarm freezer (high) of 00011111: temperature channel 1 30 (limit 25) started")
                 && errors.contains("alarm command /bin/sh failed with exit status 3"), errors.constData());

        // Both changes in the audit trail, and in the command's environment.
        QString error;
        const auto archive = Archive::Store::open(Archive::Location{dir.filePath("archive.sqlite")}, &error);
        QVERIFY2(archive, qPrintable(error));
        QVector<Archive::Event> events = archive->events(0x11111, &error);
        QCOMPARE(events.size(), 3);
        QCOMPARE(events[2].details["alarm"].toString(), "offline");
        QCOMPARE(events[0].kind, Archive::EventKind::AlarmStarted);
        QCOMPARE(events[1].kind, Archive::EventKind::AlarmCleared);
        const QString since = events[0].details["since"].toString();
        QCOMPARE(events[1].details["since"].toString(), since);
        QVERIFY(events[1].details["durationSeconds"].toDouble() >= 3 + 3 + 1);
        QJsonObject started = events[0].details;
        started.remove("since");
        QCOMPARE(started, (QJsonObject{{"name", "freezer"}, {"alarm", "high"}, {"serial", "00011111"}, {"quantity", "temperature"},
                                       {"channel", "1"}, {"value", 30}, {"limit", 25}}));
        const QString environment = "VANTOREL_ALARM_ALARM=high\nVANTOREL_ALARM_CHANNEL=1\nVANTOREL_ALARM_NAME=freezer\n"
                                    "VANTOREL_ALARM_QUANTITY=temperature\nVANTOREL_ALARM_SERIAL=00011111\n"
                                    "VANTOREL_ALARM_SINCE=" + since + "\nVANTOREL_ALARM_STATE=%1\nVANTOREL_ALARM_THRESHOLD=25\n"
                                    "VANTOREL_ALARM_VALUE=%2\n\n";
        QCOMPARE(QString::fromUtf8(readFile(dir.filePath("env.txt"))).section("\n\n", 0, 1) + "\n\n",
                 environment.arg("active", "30") + environment.arg("cleared", "21.5"));
    }

    void prometheusQueriesServe()
    {
        ScratchDirectory dir;
        Loggers loggers = startLoggers(dir.path(), {3});
        const quint16 station = freePort(), prometheusPort = freePort();
        std::unique_ptr<QProcess> serve(startCli({"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(station), "--interval", "1"}, loggers, dir.path()));
        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: vantorel\n"
                                    "    static_configs:\n      - targets: ['127.0.0.1:%1']\n").arg(station).toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(QStringLiteral(VANTOREL_PROMETHEUS),
                         {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
        QVERIFY2(prometheus.waitForStarted(), qPrintable(prometheus.errorString()));
        QJsonArray result;
        const QString query = QStringLiteral("http://127.0.0.1:%1/api/v1/query?query=vantorel_temperature_celsius").arg(prometheusPort);
        waitFor([&] {
            result = QJsonDocument::fromJson(get(query).body).object()["data"].toObject()["result"].toArray();
            return !result.isEmpty() || prometheus.state() != QProcess::Running;
        }, 60000);
        QVERIFY2(result.size() == 1, prometheus.readAll().constData());
        QCOMPARE(result.at(0)["metric"]["serial"].toString(), "00011111");
        QCOMPARE(result.at(0)["value"][1].toString(), "21.5");
        prometheus.terminate();
        prometheus.waitForFinished(10000);
        serve->terminate();
        QVERIFY(serve->waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(tst_Station)
#include "tst_station.moc"
