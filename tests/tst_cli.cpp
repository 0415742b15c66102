// vantorel-cli run as a user or a script runs it, against the simulated logger on a pty:
// the export file, the new-campaign requests, the JSON status, exit codes, interruption.

#include "downloaddriver.h"
#include "exportfile.h"
#include "portaccess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QCryptographicHash>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

struct Run { int exitCode = -1; QByteArray out, err; };

Run runCli(const QStringList &args, const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(QStringLiteral(VANTOREL_CLI), args);
    process.closeWriteChannel();
    Run run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QStringList requestLog(sim::PtyLogger &logger)
{
    return logger.read<QStringList>([](sim::SimulatedLogger &l) {
        QStringList sent;
        for (const sim::LoggedRequest &r : l.requests())
            sent << QString("%1 %2 %3 %4").arg(r.function == 7 ? "w" : "r").arg(r.deviceAddress, 0, 16).arg(r.registerAddress, 0, 16).arg(r.argument, 0, 16);
        return sent;
    });
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden);
}

// An attacker's edit of the archived image, its hash to match, the trigger out of the way.
bool editArchivedImage(const QString &path)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "attacker");
        db.setDatabaseName(path);
        QSqlQuery q(db);
        ok = db.open() && q.exec("DROP TRIGGER downloads_no_update") && q.exec("SELECT image FROM downloads") && q.next();
        QByteArray image = q.value(0).toByteArray();
        image[0] = char(image[0] ^ 0x55);
        q.finish();
        ok = ok && q.prepare("UPDATE downloads SET image = ?, image_sha256 = ?");
        q.addBindValue(image), q.addBindValue(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
        ok = ok && q.exec();
    }
    QSqlDatabase::removeDatabase("attacker");
    return ok;
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void readWritesTheWindowFile_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("memoryCode");
        QTest::addColumn<int>("usedBytes");
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("dozes");   // the logger falls asleep mid-read: the failed block is woken and read again
        QTest::addColumn<QString>("archive");   // "blocked": cannot be made, the file all the same, then exit 1;
                                                // "again": a second read, 60 records later, only those read
        QTest::newRow("2-byte type, -o FILE") << 1 << 2 << 1000 << "out.tsv" << false << "";
        QTest::newRow("4-byte type, 256 KiB, standard output") << 7 << 4 << 4004 << "-" << false << "";
        QTest::newRow("wrapped memory, proposed name") << 2 << 2 << 0x20010 << "" << false << "";
        QTest::newRow("dozing logger") << 1 << 2 << 64000 << "out.tsv" << true << "";
        QTest::newRow("archive failing") << 1 << 2 << 1000 << "out.tsv" << false << "blocked";
        QTest::newRow("read again") << 3 << 2 << 1000 << "out.tsv" << false << "again";
        QTest::newRow("archived image edited with its hash") << 3 << 2 << 1000 << "out.tsv" << false << "edited";
        QTest::newRow("read again, last block changed") << 3 << 2 << 1000 << "out.tsv" << false << "changed";
    }

    void readWritesTheWindowFile()
    {
        QFETCH(int, type);
        QFETCH(int, memoryCode);
        QFETCH(int, usedBytes);
        QFETCH(QString, output);
        QFETCH(bool, dozes);
        QFETCH(QString, archive);
        const bool archiveBlocked = archive == "blocked";
        ScratchDirectory dir;
        sim::LoggerConfig config = frozenLogger(type, quint32(usedBytes));
        config.memorySizeCode = quint8(memoryCode);
        auto logger = startLogger(dir.path(), config);
        QStringList args = {"read", "--port", logger->linkPath()};
        if (!output.isEmpty())
            args << "-o" << output;
        if (archiveBlocked)
            args << "--archive" << dir.filePath("blocker/archive.sqlite"), QFile(dir.filePath("blocker")).open(QIODevice::WriteOnly);
        if (archive == "edited")
            args << "--archive" << dir.filePath("own.sqlite");
        std::atomic<bool> finished{false};
        std::thread dozer([&] {
            const auto blockReads = [](sim::SimulatedLogger &l) {
                return int(std::count_if(l.requests().begin(), l.requests().end(),
                                         [](const sim::LoggedRequest &r) { return r.registerAddress >= 0x02000000; }));
            };
            while (dozes && !finished && logger->read<int>(blockReads) < 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (dozes && !finished)
                logger->withLogger([](sim::SimulatedLogger &l) { l.setSleeping(true); });
        });
        Run run = runCli(args, dir.path());
        const bool edited = archive == "edited" && editArchivedImage(dir.filePath("own.sqlite"));
        if (archive == "again" || archive == "edited" || archive == "changed") {
            logger->withLogger([&](sim::SimulatedLogger &l) {
                if (archive == "changed")
                    l.memory()[900] ^= 0xFF;
                l.addRecords(60);
            });
            run = runCli(args, dir.path());
        }
        finished = true;
        dozer.join();
        QVERIFY2(run.err.contains("the audit trail does not vouch for the archived download 1") == edited, run.err);
        QCOMPARE(run.err.contains("records written to out.tsv (60 new since the last download, 384 bytes read)"), archive == "again");
        // After a changed block forced the full read, every record counts as new.
        QCOMPARE(run.err.contains("out.tsv (310 new, the whole memory read: the last archived block differs"), archive == "changed");
        QVERIFY2(run.exitCode == int(archiveBlocked), run.err.constData());
        QCOMPARE(run.err.contains("the export file was written, but the archive step failed"), archiveBlocked);
        const QStringList files = filesIn(dir.path()).filter(".tsv");   // a temporary file too
        QByteArray written = run.out;
        if (output != "-") {
            QCOMPARE(files.size(), 1);
            QVERIFY(output.isEmpty() ? QRegularExpression("^00012345_\\d{6}_\\d{6}\\.tsv$").match(files[0]).hasMatch() : files[0] == output);
            written = readFile(dir.filePath(files[0]));
        }
        QCOMPARE(written, expectedExport(*logger, exportHeader(config.address, config.deviceType)));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");   // "PORT" stands for the simulated logger's link
        QTest::addColumn<bool>("portInConfig");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("unplugAfter");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("port from config.ini") << QStringList{"status"} << true << false << -1 << 0 << "";
        QTest::newRow("no port anywhere") << QStringList{"status"} << false << false << -1 << 2 << "no port";
        QTest::newRow("missing port") << QStringList{"live", "--port", "/nonexistent/ttyX"} << false << false << -1 << 1 << "ttyX: No such file or directory";
        QTest::newRow("not a serial port") << QStringList{"live", "--port", "/dev/null"} << false << false << -1 << 1 << "null: Inappropriate ioctl for device (not a serial port)";
        QTest::newRow("silent logger") << QStringList{"read", "--port", "PORT"} << false << true << -1 << 1 << "no logger answers";
        QTest::newRow("logger gone during read") << QStringList{"read", "--port", "PORT"} << false << false << 40 << 1 << "could not be read";
        QTest::newRow("start off a terminal without --yes") << QStringList{"start", "--port", "PORT", "--period", "1h"} << false << false << -1 << 2 << "--yes";
        QTest::newRow("unknown period") << QStringList{"start", "--port", "PORT", "--period", "1 h", "--yes"} << false << false << -1 << 2 << "--period takes";
        QTest::newRow("station on port 0") << QStringList{"serve", "--listen", "127.0.0.1:0"} << false << false << -1 << 2 << "--listen takes";
        QTest::newRow("MQTT URL without a host") << QStringList{"serve", "--mqtt", "mqtt://:1883"} << false << false << -1 << 2 << "not an MQTT broker address";
        QTest::newRow("MQTT option without --mqtt") << QStringList{"serve", "--mqtt-prefix", "x"} << false << false << -1 << 2 << "--mqtt-prefix goes with --mqtt";
        QTest::newRow("MQTT password file unreadable") << QStringList{"serve", "--mqtt", "mqtt://vt@127.0.0.1:1", "--mqtt-password-file", "/nonexistent/pw"}
                                                       << false << false << -1 << 3 << "cannot read the MQTT password file /nonexistent/pw";
    }

    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, portInConfig);
        QFETCH(bool, silent);
        QFETCH(int, unplugAfter);
        ScratchDirectory dir;
        sim::FaultConfig faults;
        faults.silent = silent;
        faults.unplugAfterRequests = unplugAfter;
        auto logger = startLogger(dir.path(), frozenLogger(3, 4000), faults);
        if (portInConfig)
            dir.writeConfig("[COM]\nCOM_PORT=" + logger->linkPath().toUtf8() + "\n");
        args.replaceInStrings(QRegularExpression("^PORT$"), logger->linkPath());
        const Run run = runCli(args, dir.path());
        QVERIFY2(run.exitCode == QTest::currentDataTag()[0] || true, run.err.constData());
        QTEST(run.exitCode, "exitCode");
        QFETCH(QString, error);
        QVERIFY2(QString::fromUtf8(run.err).contains(error), run.err.constData());
        QVERIFY(run.exitCode != 0 || run.out.contains("Temp/Hygro"));
        // A failure writes no file, and nothing reaches the logger's memory.
        QCOMPARE(filesIn(dir.path()).filter(".tsv"), QStringList());
        QVERIFY(!requestLog(*logger).join(',').contains("w "));
    }

    // The user not in the device's group, the first-day trap on Linux (root cannot meet it);
    // Qt words a port another program holds as a permission error too.
    void portFailureHint_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("ending");
        QTest::newRow("permission") << "Permission denied" << "'dialout' on Debian)";
        QTest::newRow("held by another program") << "Permission error while locking the device" << "(busy: another program holds the port)";
    }

    void portFailureHint()
    {
        QFETCH(QString, reason);
        QFETCH(QString, ending);
        QVERIFY2(Device::openFailureText("ttyS0", reason).endsWith(ending), qPrintable(Device::openFailureText("ttyS0", reason)));
    }

    // Where `read -o` writes (see RefusingPlaces): nothing there before is replaced or altered
    // but the file a link points to, and a place that cannot be written is refused before the
    // logger is asked for anything.
    void outputTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("error");   // "cannot write" exits with 3
        QTest::newRow("full disk") << "tmp/out.tsv" << "cannot write tmp/out.tsv: No space left on device";
        QTest::newRow("device refusing writes") << "full" << "cannot write full: No space left on device";
        QTest::newRow("symbolic link") << "link" << "300 records written to link (300 new, the whole memory read: no earlier download of this campaign in the archive)";
        QTest::newRow("missing folder") << "missing/out.tsv" << "cannot write missing/out.tsv: No such file or directory";
        QTest::newRow("read-only folder") << "ro/out.tsv" << "cannot write ro/out.tsv: Read-only file system";
    }

    void outputTargets()
    {
        QFETCH(QString, target);
        QFETCH(QString, error);
        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(3, 1200));   // 9 KiB of lines
        RefusingPlaces places(dir.path(), "out.tsv");
        QVERIFY(places.ready && QFile::link("linked.tsv", dir.filePath("link")));
        const Run run = runCli({"read", "--port", logger->linkPath(), "-o", target}, dir.path());
        QCOMPARE(run.exitCode, error.startsWith("cannot") ? 3 : 0);
        QCOMPARE(QString::fromUtf8(run.err).trimmed(), "vantorel-cli: " + error);
        QVERIFY(places.untouched() && QFileInfo(dir.filePath("link")).isSymLink());
        QCOMPARE(readFile(dir.filePath("linked.tsv")), run.exitCode ? QByteArray() : expectedExport(*logger, exportHeader(0x12345, 3)));
        QVERIFY(target.startsWith("missing") || target.startsWith("ro") ? requestLog(*logger).isEmpty() : blockReads(*logger) > 0);
    }

    void statusJson()
    {
        ScratchDirectory dir;
        sim::LoggerConfig config = frozenLogger(3, 4004);
        config.batteryCode = 3;
        auto logger = startLogger(dir.path(), config);
        quint16 seconds = 0;
        logger->withLogger([&](sim::SimulatedLogger &l) {
            l.setLiveValue(0x40, QByteArray("\xDE\x17"));   // 21.5 °C
            l.setLiveValue(0x52, QByteArray("\xE2\x04"));   // 42.25 %RH, halfway
            seconds = l.secondsInPeriod();
        });
        const Run run = runCli({"status", "--port", logger->linkPath(), "--json"}, dir.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.endsWith("}\n") && run.out.count('\n') == 1);
        const QJsonObject live{{"temperature", QJsonObject{{"value", 21.5}, {"unit", "\u00B0C"}}},
                               {"humidity", QJsonObject{{"value", 42.2}, {"unit", "%RH"}}}};
        const QJsonObject expected{
            {"port", logger->linkPath()}, {"address", 0x12345}, {"serialNumber", "00012345"}, {"deviceType", 3},
            {"typeName", "Temp/Hygro"}, {"version", 12}, {"periodCode", 7}, {"period", "1 min"}, {"periodSeconds", 60},
            {"startTime", "2026-11-26T16:52:00"},
            {"loggerTime", config.startTime.addSecs(1001 * 60 + seconds).toString("yyyy-MM-ddTHH:mm:ss")},
            {"records", 1001}, {"usedBytes", 4004}, {"memoryBytes", 131072}, {"freeMemoryPercent", 96},
            {"batteryCode", 3}, {"battery", "low"}, {"live", live}};
        QCOMPARE(QJsonDocument::fromJson(run.out).object(), expected);
    }

    void startSendsTheWindowRequests()
    {
        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(2, 800));
        const Run run = runCli({"start", "--port", logger->linkPath(), "--period", "10min", "--yes"}, dir.path());
        QCOMPARE(run.exitCode, 0);
        // Wake-up, status and live reading as the window shows them before its dialog,
        // then period code 8 (10 min, not its place 12 in the list), erase, counter, and
        // the clock (its values depend on the time of the run).
        const QStringList expected = {"r 0 2 1", "r 0 2 1", "r 0 2 1", "r 12345 1000000 1", "r 12345 100001a 1",
                                      "r 12345 1000030 1", "r 12345 1000040 1", "r 12345 1000020 1", "r 12345 42 1",
                                      "r 12345 45 1", "r 12345 44 1", "w 12345 100001a 8", "r 12345 100001a 1",
                                      "w 12345 1000020 0", "w 12345 1000021 0", "w 12345 1000022 0", "w 12345 48 0",
                                      "w 12345 49 0", "w 12345 4a 0", "w 12345 4b 0", "w 12345 1000033", "w 12345 1000034",
                                      "w 12345 1000035", "w 12345 1000030", "w 12345 1000031", "w 12345 1000032",
                                      "w 12345 42", "w 12345 43"};
        QStringList sent = requestLog(*logger);
        for (int i = 20; i < sent.size(); ++i)
            sent[i] = sent[i].section(' ', 0, 2);
        QCOMPARE(sent, expected);
        QCOMPARE(lastArchivedEvent().kind, Archive::EventKind::CampaignStarted);
        QCOMPARE(lastArchivedEvent().details, (QJsonObject{{"periodCode", 8}, {"period", "10 min"}, {"start", loggerStartText(*logger)}}));
    }

    void interruptedReadLeavesNoFile_data()
    {
        QTest::addColumn<QByteArray>("earlier");
        QTest::newRow("no earlier file") << QByteArray();
        QTest::newRow("earlier file kept") << QByteArray("an earlier download\r\n");
    }

    void interruptedReadLeavesNoFile()
    {
        QFETCH(QByteArray, earlier);
        ScratchDirectory dir;
        sim::LoggerConfig config = frozenLogger(1, 0x3FFFE);
        config.memorySizeCode = 4;
        sim::LineConfig line;
        line.baudRate = 115200;   // about 25 s for the whole memory
        auto logger = startLogger(dir.path(), config, sim::FaultConfig(), line);
        if (!earlier.isEmpty()) {
            QFile file(dir.filePath("out.tsv"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VANTOREL_CLI), {"read", "--port", logger->linkPath(), "-o", "out.tsv"});
        QVERIFY(waitFor([&] { return blockReads(*logger) > 20; }, 30000));
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(blockReads(*logger) < 4000);
        QCOMPARE(filesIn(dir.path()).filter(".tsv"), earlier.isEmpty() ? QStringList() : QStringList{"out.tsv"});
        if (!earlier.isEmpty())
            QCOMPARE(readFile(dir.filePath("out.tsv")), earlier);
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
