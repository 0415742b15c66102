// The archive on SQLite and on a PostgreSQL server of the test's own: what is stored comes
// back, a download's export file is made again byte for byte, tampering is found, faults
// are told clearly, and vantorel-cli archive answers with the right exit status.

#include "archive.h"
#include "downloaddriver.h"
#include "loggerdevice.h"
#include "mainwindow.h"
#include "manageserialport.h"
#include "pgserver.h"
#include "portaccess.h"
#include "version.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTableWidget>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPointer>
#include <QPushButton>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>
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

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString("yyyy-MM-ddTHH:mm:ss") + 'Z';
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Statements run on the database itself, past the program, as someone with access to it (on
// PostgreSQL as `role`); `image` is bound where a statement has a '?'. False when one fails or
// a query finds nothing.
bool runDirectly(const Archive::Location &location, const QStringList &statements, const QByteArray &image = {},
                 const char *role = PostgresServer::OWNER)
{
    bool ok = true;
    {
        QUrl url(location.url);
        url.setUserName(role);
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
        // Made by its owner; the program logs in as the role that may only read and add rows.
        const bool made = postgres.createDatabase(name)
            && runCli({"archive", "init", "--owner", postgres.url(name, PostgresServer::OWNER), "--archive", postgres.url(name)},
                      files.path()).exitCode == 0;
        return {made ? postgres.url(name) : QString()};
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

    // Each field changed past the program, with the triggers dropped; a head kept before.
    void tamperingIsFound_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QStringList>("change");
        QTest::addColumn<QString>("named");
        const QString edited = "download 2: column %1 differs from audit event 2";
        for (const QString engine : {"sqlite", "postgresql"}) {
            for (const QString assignment : {"address = 39321", "device_type = 1", "version = 1", "memory_size_code = 2",
                                             "period_code = 1", "start_time = '2020-01-01T00:00:00'", "calibration_a = 1",
                                             "calibration_b = 1", "used_bytes = 600", "downloaded_at = '2020-01-01T00:00:00Z'",
                                             "host = 'elsewhere'", "user_name = 'other'", "program_version = '0.9'"})
                QTest::addRow("%s: %s", qPrintable(engine), qPrintable(assignment)) << engine
                    << QStringList{"UPDATE downloads SET " + assignment + " WHERE id = 2"} << edited.arg(assignment.section(' ', 0, 0));
            const QByteArray y640 = QByteArray(640, 'x').replace(100, 1, "y");
            QTest::addRow("%s: one byte of an image", qPrintable(engine)) << engine
                << QStringList{"UPDATE downloads SET image = ? WHERE id = 2"} << "download 2: image hash differs";
            QTest::addRow("%s: an image with its hash", qPrintable(engine)) << engine
                << QStringList{"UPDATE downloads SET image = ?, image_sha256 = '" + sha(y640).toHex() + "' WHERE id = 2"} << edited.arg("image_sha256");
            QTest::addRow("%s: one audit event", qPrintable(engine)) << engine
                << QStringList{"UPDATE audit_events SET user_name = 'mallory' WHERE id = 1"} << "audit event 1: its hash does not match";
            QTest::addRow("%s: details that are no JSON", qPrintable(engine)) << engine
                << QStringList{"UPDATE audit_events SET details = '{' WHERE id = 2"} << "audit event 2: its details are not valid JSON";
            QTest::addRow("%s: a hash that is no hash", qPrintable(engine)) << engine
                << QStringList{"UPDATE audit_events SET hash = 'zz' WHERE id = 3"} << "audit event 3: its hash is not 64 hex digits";
            QTest::addRow("%s: an image hash that is no hash", qPrintable(engine)) << engine
                << QStringList{"UPDATE downloads SET image_sha256 = 'abc' WHERE id = 2"} << "download 2: its image hash is not 64 hex digits";
            if (engine == "postgresql") {   // an SQLite file keeps its NOT NULL
                QTest::addRow("%s: a NULL in a download", qPrintable(engine)) << engine
                    << QStringList{"ALTER TABLE downloads ALTER host DROP NOT NULL", "UPDATE downloads SET host = NULL WHERE id = 2"}
                    << "download 2: its column host is empty (NULL)";
                QTest::addRow("%s: a NULL in an event", qPrintable(engine)) << engine
                    << QStringList{"ALTER TABLE audit_events ALTER details DROP NOT NULL", "UPDATE audit_events SET details = NULL WHERE id = 3"}
                    << "audit event 3: its column details is empty (NULL)";
            }
            QTest::addRow("%s: an event from the middle", qPrintable(engine)) << engine
                << QStringList{"DELETE FROM audit_events WHERE id = 2"} << "audit event 3: its hash does not match";
            QTest::addRow("%s: two events swapped", qPrintable(engine)) << engine
                << QStringList{"UPDATE audit_events SET id = 9 WHERE id = 1", "UPDATE audit_events SET id = 1 WHERE id = 2",
                               "UPDATE audit_events SET id = 2 WHERE id = 9"} << "audit event 1: its hash does not match";
            QTest::addRow("%s: a download", qPrintable(engine)) << engine
                << QStringList{"DELETE FROM downloads WHERE id = 2"} << "audit event 2: download 2 is missing";
            QTest::addRow("%s: the newest events cut", qPrintable(engine)) << engine
                << QStringList{"DELETE FROM audit_events WHERE id >= 2", "DELETE FROM downloads WHERE id = 2"} << "is no event of the chain";
        }
    }

    void tamperingIsFound()
    {
        QFETCH(QString, engine);
        QFETCH(QStringList, change);
        QFETCH(QString, named);
        const Archive::Location archive = freshArchive(engine);
        QString error;
        QByteArray image(640, 'x');
        for (int i = 0; i < 2; ++i)
            QVERIFY2(Archive::Store::open(archive, &error)->storeDownload(campaignStatus({}, 640), image, &error), qPrintable(error));
        QVERIFY(Archive::Store::open(archive, &error)->logEvent(Archive::EventKind::ReportWritten, 0, {}, &error));
        Run run = runCli({"archive", "head", "--archive", archive.url}, files.path());
        QVERIFY(run.exitCode == 0 && writeFile(files.filePath("heads"), "# kept\n" + run.out));

        image[100] = 'y';
        QVERIFY(!runDirectly(archive, change, image));
        QVERIFY(runDirectly(archive, engine == "sqlite" ? QStringList{"DROP TRIGGER downloads_no_update", "DROP TRIGGER downloads_no_delete",
                                                                      "DROP TRIGGER audit_events_no_update", "DROP TRIGGER audit_events_no_delete"}
                                                        : QStringList{"DROP FUNCTION vantorel_refuse_change CASCADE"}));
        QVERIFY(runDirectly(archive, change, image));

        run = runCli({"archive", "verify", "--json", "--expect-file", "heads", "--archive", archive.url}, files.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(named.toUtf8()) && run.err.contains("triggers missing"), run.err);
        QCOMPARE(QJsonDocument::fromJson(run.out)["ok"].toBool(true), named.contains("chain"));
        QCOMPARE(runCli({"archive", "export", "2", "-o", "-", "--archive", archive.url}, files.path()).exitCode, 1);
        for (const QString command : {"list", "head", "log"})   // what they show, they show without a crash
            QVERIFY(runCli({"archive", command, "--archive", archive.url}, files.path()).exitCode >= 0);
        const QString owner = QString(archive.url).replace(PostgresServer::APP, PostgresServer::OWNER);   // who may put them back
        QCOMPARE(runCli({"archive", "verify", "--repair-triggers", "--expect-file", "heads", "--archive", owner}, files.path()).exitCode, 1);
        QVERIFY(!runDirectly(archive, {"DELETE FROM audit_events"}));
    }

    // A version 1 archive made by the program before version 2: read as it is, then upgraded
    // by the first write, its triggers put back by it.
    void version1Archive()
    {
        const QString path = files.filePath("v1.sqlite");
        QVERIFY(QFile::copy(QFINDTESTDATA("data/archive-v1.sqlite"), path) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        for (const QStringList &command : {QStringList{"list"}, QStringList{"export", "2", "-o", "-"}, QStringList{"verify"}})
            QCOMPARE(runCli(QStringList{"archive", "--archive", path} + command, files.path()).exitCode, 0);
        QVERIFY(readFile(path) == readFile(QFINDTESTDATA("data/archive-v1.sqlite")));
        QVERIFY(runDirectly({path}, {"DROP TRIGGER downloads_no_update", "UPDATE downloads SET host = 'elsewhere'"}));

        QString error;
        QVERIFY(Archive::Store::open({path}, &error)->logEvent(Archive::EventKind::ReportWritten, 0, {}, &error));
        const Run run = runCli({"archive", "verify", "--archive", path}, files.path());
        QVERIFY2(run.exitCode == 0 && run.out.startsWith("intact\t2 downloads\t7 audit events"), run.out + run.err);
        QVERIFY(!runDirectly({path}, {"UPDATE downloads SET host = 'again'"}));
        const QVector<Archive::Event> events = Archive::Store::open({path}, &error)->events(std::nullopt, &error);
        QCOMPARE(events.value(4).details, QJsonObject({{"from", 1}, {"to", 2}}));
        QCOMPARE(events.value(5).kind, Archive::EventKind::TriggersRestored);
    }

    // A server stopped with SIGSTOP: the caller's event loop keeps turning while a call waits,
    // each call gives up within about 10 s, and a read still writes its file, then exits 1.
    void silentServer()
    {
        const Archive::Location archive = freshArchive("postgresql");
        QString error;
        const auto store = Archive::Store::open(archive, &error);
        QVERIFY2(store, qPrintable(error));
        store->setAnswerWhileWaiting(true);
        const auto resume = qScopeGuard([this] { postgres.pause(false); });
        QVERIFY(postgres.pause(true));
        QElapsedTimer sinceTick, waited;
        qint64 longestStall = 0, id = -1;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { longestStall = qMax(longestStall, sinceTick.restart()); });
        QEventLoop loop;
        QTimer::singleShot(0, [&] {
            waited.start();
            id = store->storeDownload(campaignStatus({}, 640), "x", &error);
            loop.quit();
        });
        sinceTick.start(), ticker.start(20);
        loop.exec();
        longestStall = qMax(longestStall, sinceTick.elapsed());
        QVERIFY2(id == 0 && error.contains("did not answer within 10 s") && waited.elapsed() < 15000, qPrintable(error));
        QVERIFY2(longestStall < 200, qPrintable(QString::number(longestStall)));
        QVERIFY(!store->logEvent(Archive::EventKind::ReportWritten, 0, {}, &error) && error.contains("since an earlier call"));

        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(1, 1000));
        waited.start();
        const Run run = runCli({"read", "--port", logger->linkPath(), "-o", "out.tsv", "--archive", archive.url}, dir.path());
        QVERIFY2(run.exitCode == 1 && waited.elapsed() < 15000 && QFile::exists(dir.filePath("out.tsv")), run.err);
    }

    // The window on that server stopped: a download and a limit change keep its event loop
    // turning and say what they wait for, the file is written all the same, each failure is
    // told; the server back, the next change is recorded on a connection opened anew.
    void silentServerUnderTheWindow()
    {
        const Archive::Location archive = freshArchive("postgresql");
        LoggerWindow w(frozenLogger(1, 1000), {}, "[ARCHIVE]\nURL=" + archive.url.toUtf8() + "\n");
        QVERIFY(w.waitForRefresh());
        SaveDialogAnswer first(w.dir.filePath("first.tsv"));
        QVERIFY(download(w, *answerOutcome()));   // connected while the server answers
        const auto resume = qScopeGuard([this] { postgres.pause(false); });
        QVERIFY(postgres.pause(true));
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        bool told = false, clicked = false, clickedThrough = false;
        QPointer<QPushButton> clickWhileTold;   // a click that must wait for the step to end
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            longestStall = qMax(longestStall, sinceTick.restart());
            auto *note = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
            told = told || (note && note->labelText() == "Waiting for the archive (" + archive.display() + ")...");
            if (auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); files && clicked)
                clickedThrough = true, files->reject();
            if (QPushButton *button = told ? std::exchange(clickWhileTold, nullptr).data() : nullptr)
                QTimer::singleShot(0, button, [&, button] { clicked = true, QTest::mouseClick(button, Qt::LeftButton); });
        });
        // As the program runs them: from its event loop.
        const auto inEventLoop = [](const std::function<void()> &step) {
            QEventLoop loop;
            QTimer::singleShot(0, [&] { step(), loop.quit(); });
            loop.exec();
        };
        sinceTick.start(), ticker.start(10);
        SaveDialogAnswer second(w.dir.filePath("second.tsv"));
        ModalAnswerer notStored(messageBoxTitled("Archive"), clickButton(QMessageBox::Ok), 60000);
        bool downloaded = false;
        inEventLoop([&] { downloaded = download(w, *answerOutcome()); });
        QVERIFY(downloaded);
        QVERIFY2(notStored.done() && told, qPrintable(notStored.seenText()));
        QCOMPARE(readFile(w.dir.filePath("second.tsv")), readFile(w.dir.filePath("first.tsv")));

        ticker.stop();   // drawing the campaign is no archive step
        w.window->findChild<QAction *>("actionShowLastDownload")->trigger();
        auto *limits = w.dialog("campaignWindow")->findChild<QTableWidget *>();
        told = false;
        for (QPushButton *button : w.dialog("campaignWindow")->findChildren<QPushButton *>())
            clickWhileTold = button->text() == "Open export file..." ? button : clickWhileTold.data();
        sinceTick.start(), ticker.start(10);
        ModalAnswerer notRecorded(messageBoxTitled("Archive"), clickButton(QMessageBox::Ok), 60000);
        inEventLoop([&] { limits->item(StatisticsTable::UPPER_LIMIT_ROW, 0)->setText("8"); });
        QVERIFY2(notRecorded.seenText().contains("could not record it") && told && !clickedThrough, qPrintable(notRecorded.seenText()));
        QVERIFY2(longestStall < 200, qPrintable(QString::number(longestStall)));

        QVERIFY(postgres.pause(false));
        ModalAnswerer failed(messageBoxTitled("Archive"), clickButton(QMessageBox::Ok), 60000);
        limits->item(StatisticsTable::LOWER_LIMIT_ROW, 0)->setText("1");
        QString error;
        const QVector<Archive::Event> events = Archive::Store::open(archive, &error)->events(std::nullopt, &error);
        QVERIFY2(!failed.done() && events.last().details["low"] == 1.0, qPrintable(failed.seenText()));
    }

    // The program's role may read and add rows, nothing else, whatever the triggers; what only
    // the owner may do fails whole, with a word on who may, until `archive init` does it.
    void insertOnlyRole()
    {
        const Archive::Location archive = freshArchive("postgresql");
        QString error;
        QVERIFY2(Archive::Store::open(archive, &error)->storeDownload(campaignStatus({}, 640), "x", &error) == 1, qPrintable(error));
        QVERIFY(runDirectly(archive, {"DROP FUNCTION vantorel_refuse_change CASCADE", "UPDATE schema_version SET version = 1"}));
        for (const QString change : {"UPDATE downloads SET host = 'elsewhere'", "DELETE FROM downloads", "TRUNCATE audit_events",
                                      "DROP TABLE schema_version", "UPDATE schema_version SET version = 2"})
            QVERIFY2(!runDirectly(archive, {change}, {}, PostgresServer::APP), qPrintable(change));
        QVERIFY(runDirectly(archive, {"SELECT id FROM downloads"}, {}, PostgresServer::APP));

        const Run repair = runCli({"archive", "verify", "--repair-triggers", "--archive", archive.url}, files.path());
        QVERIFY2(repair.exitCode == 1 && repair.err.contains("only the archive's owner"), repair.err);
        QVERIFY(!Archive::Store::open(archive, &error)->logEvent(Archive::EventKind::ReportWritten, 0, {}, &error));
        QVERIFY2(error.contains("refused vantorel_app this change"), qPrintable(error));
        QVERIFY(runDirectly(archive, {"SELECT 1 FROM schema_version HAVING MAX(version) = 1",
                                      "SELECT 1 FROM audit_events HAVING COUNT(*) = 1"}));

        QCOMPARE(runCli({"archive", "init", "--owner", QString(archive.url).replace("vantorel_app", "vantorel_owner"),
                         "--archive", archive.url}, files.path()).exitCode, 0);
        QVERIFY(Archive::Store::open(archive, &error)->logEvent(Archive::EventKind::ReportWritten, 0, {}, &error));
        const Run run = runCli({"archive", "verify", "--archive", archive.url}, files.path());
        QVERIFY2(run.exitCode == 0 && run.out.startsWith("intact\t1 downloads\t4 audit events"), run.out + run.err);
    }

    // Downloads made while the server is down wait in the spool, then go to the archive first,
    // in their order, with their own times, before the download that found the server back.
    void spoolWhileServerIsDown()
    {
        const Archive::Location archive = freshArchive("postgresql");
        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(1, 1000));
        const auto restart = qScopeGuard([this] { postgres.setRunning(true); });
        QVERIFY(postgres.setRunning(false));
        for (const QString file : {"a.tsv", "b.tsv"}) {
            qputenv("USER", file == "a.tsv" ? "auditor" : "second");   // told apart in the archive
            const Run run = runCli({"read", "--port", logger->linkPath(), "-o", file, "--archive", archive.url}, dir.path());
            QVERIFY2(run.exitCode == 1 && QFile::exists(dir.filePath(file)) && run.err.contains("downloads wait in the spool"), run.err);
        }
        Run run = runCli({"archive", "list", "--json", "--archive", archive.url}, dir.path());
        QList<QByteArray> spooled = run.out.trimmed().split('\n');
        QVERIFY2(run.exitCode == 1 && spooled.size() == 2 && spooled[0].contains(R"("id":null,"records":500,"serialNumber":"00012345","spooled":true)"), run.out + run.err);
        QTest::qWait(1100);   // so that a time taken at storing differs from the download's own

        qputenv("USER", "auditor");
        QVERIFY(postgres.setRunning(true));
        run = runCli({"read", "--port", logger->linkPath(), "-o", "c.tsv", "--archive", archive.url}, dir.path());
        QVERIFY2(run.exitCode == 0, run.err);
        run = runCli({"archive", "list", "--json", "--archive", archive.url}, dir.path());
        const QList<QByteArray> stored = run.out.trimmed().split('\n');
        QVERIFY2(run.exitCode == 0 && stored.size() == 3, run.out + run.err);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(QJsonDocument::fromJson(stored[i])["downloadedAt"], QJsonDocument::fromJson(spooled[i])["downloadedAt"]);
        QString error;
        const QVector<Archive::Event> events = Archive::Store::open(archive, &error)->events(std::nullopt, &error);
        // Each spooled download with the export written of it.
        QCOMPARE(events.size(), 6);
        QCOMPARE(events[0].user + events[1].user + events[2].user, "auditorauditorsecond");
        QCOMPARE(utcText(events[2].at), QJsonDocument::fromJson(spooled[1])["downloadedAt"].toString());
        QCOMPARE(events[1].kind, Archive::EventKind::ExportWritten);
        QCOMPARE(events[1].details["downloadId"].toInt(), 1);
        QCOMPARE(events[2].details["downloadId"].toInt(), 2);
        run = runCli({"archive", "verify", "--archive", archive.url}, dir.path());
        QVERIFY2(run.exitCode == 0 && run.out.startsWith("intact\t3 downloads\t6 audit events"), run.out + run.err);

        // A new campaign started while the server is down: its event waits there too.
        QVERIFY(postgres.setRunning(false));
        run = runCli({"start", "--port", logger->linkPath(), "--period", "1h", "--yes", "--archive", archive.url}, dir.path());
        const std::unique_ptr<Archive::Store> spool = Archive::Store::open({archive.spoolPath()}, &error);
        const QVector<Archive::Event> waiting = spool ? spool->events(std::nullopt, &error) : QVector<Archive::Event>();
        QVERIFY2(run.exitCode == 1 && !waiting.isEmpty() && waiting.last().kind == Archive::EventKind::CampaignStarted, run.err);
    }

    // 8 programs appending at once: every event kept, the chain one line.
    void manyWriters_data() { engineRows(); }
    void manyWriters()
    {
        QFETCH(QString, engine);
        const Archive::Location archive = freshArchive(engine);
        QString error;
        QVERIFY2(Archive::Store::open(archive, &error)->storeDownload(campaignStatus({}, 640), "x", &error) == 1, qPrintable(error));
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int i = 0; i < 8; ++i) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->setWorkingDirectory(files.path());
            writers.back()->start("sh", {"-c", QString("for n in 1 2 3 4 5; do '%1' archive export 1 -o w%2.tsv --archive '%3' || exit 1; done")
                                                   .arg(VANTOREL_CLI).arg(i).arg(archive.url)});
        }
        for (const auto &writer : writers)
            QVERIFY2(writer->waitForFinished(300000) && writer->exitCode() == 0, writer->readAllStandardError());
        const Run run = runCli({"archive", "verify", "--archive", archive.url}, files.path());
        QVERIFY2(run.exitCode == 0 && run.out.startsWith("intact\t1 downloads\t41 audit events"), run.out + run.err);
    }

    void faultsAreToldClearly_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("SQLite: newer schema") << "sqlite" << "newer" << "has schema version 3, newer than this program knows (2)";
        QTest::newRow("PostgreSQL: newer schema") << "postgresql" << "newer" << "has schema version 3, newer than this program knows (2)";
        QTest::newRow("SQLite: no archive file") << "sqlite" << "garbage" << "is damaged or is no archive";
        QTest::newRow("SQLite: another writer") << "sqlite" << "busy" << "is busy: another program has been writing to it";
        QTest::newRow("PostgreSQL: wrong password") << "postgresql" << "password" << "refused the login of vantorel_app";
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
            QVERIFY(runDirectly(archive, {"UPDATE schema_version SET version = 3"}));
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
            QVERIFY(runDirectly(archive, {"SELECT version FROM schema_version WHERE version = 3"}));
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
        for (const QString command : {"list", "verify", "head", "log"})
            QTest::addRow("truncated file: %s", qPrintable(command)) << QStringList{command, "--archive", "cut.sqlite"} << 1 << "is damaged";
        QTest::newRow("truncated file: export") << QStringList{"export", "1", "--archive", "cut.sqlite"} << 1 << "is damaged";
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
        QVERIFY(writeFile(dir.filePath("cut.sqlite"), readFile(dir.filePath("a.sqlite")).left(12288)));
        const Run run = runCli(QStringList{"archive"} + args, dir.path());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode ? run.err : run.out).contains(output.toUtf8()) && (!output.isEmpty() || run.out.isEmpty()), run.out + run.err);
    }
};

QTEST_MAIN(tst_Archive)
#include "tst_archive.moc"
