// The archive on SQLite and on a PostgreSQL server of the test's own: what is stored comes
// back, a download's export file is made again byte for byte, tampering is found, faults
// are told clearly, and vantorel-cli archive answers with the right exit status.

#include "archive.h"
#include "downloaddriver.h"
#include "loggerdevice.h"
#include "manageserialport.h"
#include "pgserver.h"
#include "portaccess.h"
#include "version.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>

namespace {

struct Run { int exitCode = -1; QByteArray out, err; };

Run runCli(const QStringList &args, const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(VANTOREL_CLI, args);
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray sha(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

LoggerStatus campaignStatus(const QDateTime &start, quint32 usedBytes)
{
    LoggerStatus s;
    s.address = 0x12345, s.deviceType = 7, s.version = 12, s.memorySizeCode = 4, s.periodCode = 7;
    s.startTime = start, s.calibrationA = 0xFFF0, s.calibrationB = 2300, s.usedBytes = usedBytes;
    return s;
}

// Statements run on the database itself, past the program, as someone with access to it;
// `image` is bound where a statement has a '?'. False when one fails or a query finds nothing.
bool runDirectly(const Archive::Location &location, const QStringList &statements, const QByteArray &image = {})
{
    bool ok = true;
    {
        const QUrl url(location.url);
        QSqlDatabase db = QSqlDatabase::addDatabase(location.isPostgres() ? "QPSQL" : "QSQLITE", "attacker");
        db.setDatabaseName(location.isPostgres() ? url.path().mid(1) : location.url);
        db.setHostName(url.host()), db.setPort(url.port()), db.setUserName(url.userName()), db.setPassword(url.password());
        ok = db.open();
        for (const QString &statement : statements) {
            QSqlQuery q(db);
            ok = ok && (statement.contains('?') ? (q.prepare(statement), q.addBindValue(image), q.exec()) : q.exec(statement))
                 && (!q.isSelect() || q.next());
        }
    }
    QSqlDatabase::removeDatabase("attacker");
    return ok;
}

} // namespace

class tst_Archive : public QObject
{
    Q_OBJECT

    PostgresServer postgres;
    QTemporaryDir files;
    int archives = 0;

    // A new, empty archive on that engine.
    Archive::Location freshArchive(const QString &engine)
    {
        const QString name = QStringLiteral("archive%1").arg(++archives);
        if (engine == "sqlite")
            return {files.filePath(name + ".sqlite")};
        return {postgres.createDatabase(name) ? postgres.url(name) : QString()};
    }

    void engineRows()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("SQLite") << "sqlite";
        QTest::newRow("PostgreSQL") << "postgresql";
    }

private slots:
    void initTestCase()
    {
        qputenv("USER", "auditor");
        QVERIFY2(postgres.start(), qPrintable(postgres.error()));
    }

    void storedDownloadsComeBack_data() { engineRows(); }
    void storedDownloadsComeBack()
    {
        QFETCH(QString, engine);
        QString error;
        const std::unique_ptr<Archive::Store> store = Archive::Store::open(freshArchive(engine), &error);
        QVERIFY2(store, qPrintable(error));
        const QDateTime start(QDate(2026, 11, 26), QTime(16, 52), Qt::UTC);
        QByteArray image(MEMORY_IMAGE_SIZE, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 % 251);
        QCOMPARE(store->storeDownload(campaignStatus(start, 4000), image.left(4032), &error), 1);
        QCOMPARE(store->storeDownload(campaignStatus(start, 0x40010), image, &error), 2);
        QCOMPARE(store->storeDownload(campaignStatus(start.addDays(1), 100), image.left(128), &error), 3);

        const auto latest = store->latestOfCampaign(campaignStatus(start, 0x40400), &error);
        QVERIFY2(latest, qPrintable(error));
        const LoggerStatus &s = latest->status;
        QCOMPARE(latest->id, 2);
        QCOMPARE(QList<qint64>({s.address, s.deviceType, s.version, s.memorySizeCode, s.periodCode, s.calibrationA, s.calibrationB, s.usedBytes, s.recordSize}),
                 QList<qint64>({0x12345, 7, 12, 4, 7, 0xFFF0, 2300, 0x40010, 4}));
        QCOMPARE(s.startTime, start);
        QVERIFY(latest->image == image && latest->sha256 == sha(image));
        QCOMPARE(latest->user + latest->programVersion, QStringLiteral("auditor" VANTOREL_VERSION));
        QVERIFY(!store->latestOfCampaign(campaignStatus(start.addSecs(1), 4000), &error) && error.isEmpty());

        QCOMPARE(store->downloads(0x12345, &error).value(0).records, 1000u);
        QVERIFY(store->downloads(0x1234, &error).isEmpty() && store->verify(&error).ok);
    }

    void exportIsTheDownloadFile_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("memoryCode");
        QTest::addColumn<int>("usedBytes");
        QTest::newRow("2-byte type") << 1 << 2 << 1000;
        QTest::newRow("4-byte type, 256 KiB") << 7 << 4 << 4004;
        QTest::newRow("wrapped memory") << 2 << 2 << 0x20010;
    }

    void exportIsTheDownloadFile()
    {
        QFETCH(int, type);
        QFETCH(int, memoryCode);
        QFETCH(int, usedBytes);
        ScratchDirectory dir;
        sim::LoggerConfig config = frozenLogger(type, quint32(usedBytes));
        config.memorySizeCode = quint8(memoryCode);
        auto logger = startLogger(dir.path(), config);
        ManageSerialPort port;
        LoggerStatus status;
        Device::RecordMemory memory;
        QBuffer file;
        QVERIFY(Device::openPort(port, logger->linkPath()) && Device::wakeUp(port) && Device::readStatus(port, status).complete);
        QCOMPARE(Device::readRecordMemory(port, status, memory, {}), Device::DownloadResult::Complete);
        QVERIFY(file.open(QIODevice::WriteOnly) && Device::writeExport(file, status, memory, {}, nullptr));

        // What the logger holds, in the whole requests it was read in.
        const quint32 held = memory.params.memoryWrapped ? memory.params.topAddress + 1 : (status.usedBytes + 63) / 64 * 64;
        const Archive::Location archive{dir.filePath("archive.sqlite")};
        QString error;
        QCOMPARE(Archive::Store::open(archive, &error)->storeDownload(status, QByteArray(reinterpret_cast<const char *>(memory.image.data()), held), &error), 1);
        QCOMPARE(runCli({"archive", "export", "1", "-o", "again.tsv", "--archive", archive.url}, dir.path()).exitCode, 0);
        QVERIFY(readFile(dir.filePath("again.tsv")) == file.data());

        // The report of it and the export are in the trail, after the download.
        QCOMPARE(runCli({"report", "again.tsv", "-o", "r.pdf", "--archive", archive.url}, dir.path()).exitCode, 0);
        const QVector<Archive::Event> events = Archive::Store::open(archive, &error)->events(0x12345, &error);
        QCOMPARE(events.size(), 3);
        QCOMPARE(events[1].details.value("sha256").toString(), sha(file.data()).toHex());
        QCOMPARE(events[2].details.value("sha256").toString(), sha(readFile(dir.filePath("r.pdf"))).toHex());
    }

    void tamperingIsFound_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("named");
        for (const QString engine : {"sqlite", "postgresql"}) {
            QTest::addRow("%s: one byte of an image", qPrintable(engine)) << engine << "downloads"
                << "UPDATE downloads SET image = ? WHERE id = 2" << "download 2: image hash differs";
            QTest::addRow("%s: what a download says of its campaign", qPrintable(engine)) << engine << "downloads"
                << "UPDATE downloads SET used_bytes = 600 WHERE id = 2" << "download 2: differs from audit event 2";
            QTest::addRow("%s: one audit event", qPrintable(engine)) << engine << "audit_events"
                << "UPDATE audit_events SET user_name = 'mallory' WHERE id = 1" << "audit event 1: its hash does not match";
        }
    }

    void tamperingIsFound()
    {
        QFETCH(QString, engine);
        QFETCH(QString, table);
        QFETCH(QString, change);
        QFETCH(QString, named);
        const Archive::Location archive = freshArchive(engine);
        QString error;
        QByteArray image(640, 'x');
        for (int i = 0; i < 2; ++i)
            QVERIFY2(Archive::Store::open(archive, &error)->storeDownload(campaignStatus({}, 640), image, &error), qPrintable(error));
        QCOMPARE(runCli({"archive", "verify", "--archive", archive.url}, files.path()).exitCode, 0);

        image[100] = 'y';
        const QString trigger = table + "_no_update" + (engine == "postgresql" ? " ON " + table : QString());
        QVERIFY(!runDirectly(archive, {change}, image));
        QVERIFY(!runDirectly(archive, {"DELETE FROM " + table}));
        QVERIFY(runDirectly(archive, {"DROP TRIGGER " + trigger, change}, image));

        const Run run = runCli({"archive", "verify", "--json", "--archive", archive.url}, files.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(named.toUtf8()), run.err);
        QCOMPARE(QJsonDocument::fromJson(run.out)["ok"].toBool(true), false);
    }

    void faultsAreToldClearly_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("SQLite: newer schema") << "sqlite" << "newer" << "has schema version 2, newer than this program knows (1)";
        QTest::newRow("PostgreSQL: newer schema") << "postgresql" << "newer" << "has schema version 2, newer than this program knows (1)";
        QTest::newRow("SQLite: no archive file") << "sqlite" << "garbage" << "is damaged or is no archive";
        QTest::newRow("SQLite: another writer") << "sqlite" << "busy" << "is busy: another program has been writing to it";
        QTest::newRow("PostgreSQL: wrong password") << "postgresql" << "password" << "refused the login of postgres";
        QTest::newRow("PostgreSQL: no server") << "postgresql" << "port" << "cannot be reached";
    }

    void faultsAreToldClearly()
    {
        QFETCH(QString, engine);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        Archive::Location archive = freshArchive(engine);
        QString error;
        const auto store = Archive::Store::open(archive, &error);
        QVERIFY2(store, qPrintable(error));
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        if (fault == "busy") {
            writer.setDatabaseName(archive.url);
            QVERIFY(writer.open() && QSqlQuery(writer).exec("BEGIN IMMEDIATE"));
        }
        if (fault == "newer")
            QVERIFY(runDirectly(archive, {"UPDATE schema_version SET version = 2"}));
        QFile garbage(files.filePath("garbage"));
        if (fault == "garbage")
            QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')) && garbage.flush());
        archive.url.replace(PostgresServer::PASSWORD, fault == "password" ? "guess" : PostgresServer::PASSWORD);
        archive.url.replace(QString::number(postgres.port()), fault == "port" ? "1" : QString::number(postgres.port()));

        if (fault == "busy")
            QCOMPARE(store->storeDownload(LoggerStatus(), "image", &error), 0);
        else
            QVERIFY(!Archive::Store::open(fault == "garbage" ? Archive::Location{garbage.fileName()} : archive, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        if (fault == "newer")
            QVERIFY(runDirectly(archive, {"SELECT version FROM schema_version WHERE version = 2"}));
        writer.close(), writer = QSqlDatabase();
        QSqlDatabase::removeDatabase("writer");
    }

    void commandLineExitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");   // on standard output (empty: nothing there), else standard error
        QTest::newRow("list, JSON") << QStringList{"list", "--json", "--logger", "00012345"} << 0 << R"("records":160,"serialNumber":"00012345")";
        QTest::newRow("another logger") << QStringList{"log", "--logger", "1234"} << 0 << "";
        QTest::newRow("no such download") << QStringList{"export", "2"} << 1 << "holds no download 2";
        QTest::newRow("no such folder") << QStringList{"list", "--archive", "/no/such/a.sqlite"} << 1 << "does not exist";
        QTest::newRow("file not written") << QStringList{"export", "1", "-o", "/no/such/x.tsv"} << 3 << "cannot write /no/such/x.tsv";
        QTest::newRow("no id") << QStringList{"export"} << 2 << "takes one download id";
        QTest::newRow("archive off") << QStringList{"verify", "--no-archive"} << 2 << "switched off";
    }

    void commandLineExitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        ScratchDirectory dir;
        dir.writeConfig("[ARCHIVE]\nURL=a.sqlite\n");
        QString error;
        QVERIFY2(Archive::Store::open({dir.filePath("a.sqlite")}, &error)->storeDownload(campaignStatus({}, 640), "x", &error) == 1, qPrintable(error));
        const Run run = runCli(QStringList{"archive"} + args, dir.path());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode ? run.err : run.out).contains(output.toUtf8()) && (!output.isEmpty() || run.out.isEmpty()), run.out + run.err);
    }
};

QTEST_MAIN(tst_Archive)
#include "tst_archive.moc"
