// Bad settings and bad places for files: the window keeps working, says what is wrong
// where it matters, and never loses a file it did not mean to replace.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"
#include "manageserialport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

#include <sys/mount.h>

namespace {

const QByteArray earlier = "the user's earlier file\r\n";

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QStringList entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// After a refresh, presses "Read Data", saves to `path` and gives the outcome box's text.
QString downloadTo(LoggerWindow &w, const QString &path, QString *proposed = nullptr)
{
    w.refreshTimer()->start(0);
    if (!w.waitForRefreshes(1))
        return QStringLiteral("no refresh");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    const bool ended = download(w, *outcome);
    if (proposed)
        *proposed = save.proposed;
    return ended ? outcome->seenText() : QStringLiteral("no outcome");
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }

    // Settings that name no usable port: the user is told and asked for one, nothing is
    // polled, and what the name points at is left alone.
    void portNamingNothing_data()
    {
        QTest::addColumn<QByteArray>("ini");   // empty: config.ini is a directory; "%1": the scratch directory
        QTest::addColumn<QString>("complaint");
        QTest::newRow("config.ini a directory") << QByteArray() << "No value on the configuration file";
        QTest::newRow("empty name") << QByteArray("[COM]\nCOM_PORT=\n") << "port not open";
        QTest::newRow("missing device") << QByteArray("[COM]\nCOM_PORT=/nonexistent/ttyVT0\n") << "port not open";
        QTest::newRow("a regular file") << QByteArray("[COM]\nCOM_PORT=%1/plain\n") << "port not open";
    }
    void portNamingNothing()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, complaint);
        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(3, 1200));
        QVERIFY(writeFile(dir.filePath("plain"), earlier));
        if (ini.isEmpty())
            QVERIFY(QDir().mkdir(dir.filePath("config.ini")));
        else
            dir.writeConfig(ini.replace("%1", dir.path().toLocal8Bit()));
        DebugCapture debug;
        MainWindow window;
        window.show();
        QVERIFY(debug.contains(complaint));
        const auto dialogShown = [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("connection") && w->isVisible())
                    return true;
            return false;
        };
        QVERIFY(waitFor(dialogShown));
        QTest::qWait(1100);
        QCOMPARE(logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); }), 0);
        QCOMPARE(readFile(dir.filePath("plain")), earlier);
        QVERIFY(!ini.isEmpty() || entries(dir.filePath("config.ini")).isEmpty());
    }

    void timeoutBase_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<int>("expected");
        QTest::newRow("text") << QByteArray("abc") << 0;
        QTest::newRow("negative") << QByteArray("-5") << 0;
        QTest::newRow("past int") << QByteArray("99999999999") << 0;
        QTest::newRow("large: capped, so that time-outs cannot overflow") << QByteArray("2147483647") << 10000;
    }
    void timeoutBase()
    {
        QFETCH(QByteArray, base);
        LoggerWindow w(frozenLogger(3, 1200), sim::FaultConfig(), "[COM_TIMEOUT]\nBASE=" + base + "\n");
        auto *port = w.window->findChild<ManageSerialPort *>(QStringLiteral("portManager"));
        QVERIFY(port && port->isOpen());
        QTEST(port->timeoutBase(), "expected");
        QCOMPARE(port->timeoutCoeffOver4(), 2);
    }

    // Where the save dialog starts, and where the file goes, whatever the setting says.
    void exportPlaces_data()
    {
        QTest::addColumn<QString>("setting");   // VT_DATA/DIR, under the scratch directory
        QTest::addColumn<QString>("folder");    // where the user saves
        QTest::addColumn<QString>("name");
        QTest::newRow("setting names a regular file") << "plain" << "chosen" << "campaign.tsv";
        QTest::newRow("setting names a missing directory") << "gone/deeper" << "chosen" << "campaign.tsv";
        // Qt 6 names files in UTF-8 whatever the locale: exactly that name, nothing else there.
        QTest::newRow("non-ASCII names") << "chosen" << QString::fromUtf8("données été ü 日本")
                                         << QString::fromUtf8("relevé über 日本 1.tsv");
    }
    void exportPlaces()
    {
        QFETCH(QString, setting);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        LoggerWindow w(frozenLogger(3, 1200));
        QVERIFY(writeFile(w.dir.filePath("plain"), earlier));
        QVERIFY(QDir().mkpath(w.dir.filePath("chosen")) && QDir().mkpath(w.dir.filePath(folder)));
        QSettings("config.ini", QSettings::IniFormat).setValue("VT_DATA/DIR", w.dir.filePath(setting));
        Clock::setSource([] { return QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3)); });

        const QString directory = QDir(w.dir.filePath(folder)).absolutePath();
        QString proposed;
        QCOMPARE(downloadTo(w, directory + "/" + name, &proposed), "Read Data|<font color=green>Download Complete</font>");
        QVERIFY2(proposed.endsWith("/00012345_051214_090703.tsv"), qPrintable(proposed));
        QCOMPARE(readFile(directory + "/" + name),
                 expectedExport(*w.logger, "Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"));
        QCOMPARE(entries(directory), QStringList(name));
        QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(), directory);
        QCOMPARE(readFile(w.dir.filePath("plain")), earlier);
        QVERIFY(!QFile::exists(w.dir.filePath("gone")));
    }

    void fullDisk_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("replacing a file") << true;
        QTest::newRow("new file") << false;
    }
    void fullDisk()
    {
        QFETCH(bool, existing);
        // 32764 records of about 31 bytes: some 1 MB for 64 KiB of room.
        LoggerWindow w(frozenLogger(3, 0x1FFF0));
        const QString directory = w.dir.filePath("small"), path = directory + "/campaign.tsv";
        // A small tmpfs of our own, when the test may mount one (root in CI).
        QVERIFY(QDir().mkpath(directory));
        const QByteArray where = QFile::encodeName(directory);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("this user cannot mount a tmpfs: no full disk to write to");
        const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
        if (existing)
            QVERIFY(writeFile(path, earlier));
        const QString outcome = downloadTo(w, path);
        QVERIFY2(!outcome.contains("Complete") && outcome.contains(path), qPrintable(outcome));
        // The old file intact, no partial file left.
        QCOMPARE(entries(directory), existing ? QStringList("campaign.tsv") : QStringList());
        QVERIFY(!existing || readFile(path) == earlier);
    }
};

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
