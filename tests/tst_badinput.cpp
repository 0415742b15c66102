// Bad input from the logger, the settings and the disk: the window keeps working, shows
// nothing it cannot know, says what is wrong, and never loses a file it did not mean to replace.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"

#include <QApplication>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

#include <sys/mount.h>

namespace {

using Labels = QStringList;   // "name=text"
const QByteArray earlier = "the user's earlier file\r\n";
const QString complete = QStringLiteral("Read Data|<font color=green>Download Complete</font>");

sim::LoggerConfig baseLogger(int type, quint32 usedBytes = 1200, int memoryCode = 2, int periodCode = 7)
{
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52, 0), Qt::UTC);
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    return config;
}

QByteArray headerFor(const QByteArray &names, const QByteArray &units)
{
    return "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList entries(const QString &directory) { return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }

bool refreshNow(LoggerWindow &w)
{
    w.refreshTimer()->start(0);   // rather than in up to a second; the slot sets the interval back
    return w.waitForRefreshes(1) && w.comStatus().contains("COM OK");
}

// After a refresh, presses "Read Data", saves to `path` and gives the outcome box's text.
QString downloadTo(LoggerWindow &w, const QString &path, QString *proposed = nullptr)
{
    if (!refreshNow(w))
        return QStringLiteral("no refresh");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    const bool ended = download(w, *outcome);
    if (proposed)
        *proposed = save.proposed;
    return ended ? outcome->seenText() : QStringLiteral("no outcome");
}

} // namespace

Q_DECLARE_METATYPE(sim::LoggerConfig)

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }

    // Registers holding extremes and garbage.
    void loggerExtremes_data()
    {
        QTest::addColumn<sim::LoggerConfig>("config");
        QTest::addColumn<QByteArray>("startBytes");   // not empty: written over the start registers
        QTest::addColumn<Labels>("expected");
        QTest::addColumn<QByteArray>("header");
        const QByteArray temp = headerFor("Vantorel Temp", "\xB0" "C");
        // Unknown types leave the type and live labels as they were: empty in a new window.
        QTest::newRow("type 255") << baseLogger(255) << QByteArray() << Labels{"type=", "real_txt=", "data_lab=600"}
                                  << headerFor("Unknown data type", "?");
        QTest::newRow("period 14") << baseLogger(1, 1200, 2, 14) << QByteArray() << Labels{"period_lab=-", "time_lab=-"} << temp;
        QTest::newRow("memory 4, wrapped") << baseLogger(1, 0x40012, 4) << QByteArray() << Labels{"free_mem_lab=0%"} << temp;
        QTest::newRow("memory 7, wrapped") << baseLogger(1, 0x20010, 7) << QByteArray() << Labels{"data_lab=65544"} << temp;
        QTest::newRow("used odd") << baseLogger(1, 1201) << QByteArray() << Labels{"data_lab=600"} << temp;
        QTest::newRow("start no BCD") << baseLogger(1) << QByteArray("\x14\x11\x1A\x16\x52\x00", 6)
                                      << Labels{"start_label=-", "time_lab=-"} << temp;
    }
    void loggerExtremes()
    {
        QFETCH(sim::LoggerConfig, config);
        QFETCH(QByteArray, startBytes);
        QFETCH(Labels, expected);
        QFETCH(QByteArray, header);
        LoggerWindow w(config);
        if (!startBytes.isEmpty())
            w.logger->withLogger([&](sim::SimulatedLogger &l) { l.setLiveValue(0x01000030, startBytes); });
        QVERIFY(refreshNow(w));
        for (const QString &entry : expected)
            QCOMPARE(entry.section('=', 0, 0) + '=' + w.text(entry.section('=', 0, 0).toLatin1()), entry);
        const QString path = w.dir.filePath("campaign.tsv");
        QCOMPARE(downloadTo(w, path), complete);
        QCOMPARE(readFile(path), expectedExport(*w.logger, header));
        QVERIFY(refreshNow(w));   // still polling
    }

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
        QVERIFY(ini.isEmpty() ? QDir().mkdir(dir.filePath("config.ini")) : writeFile("config.ini", ini.replace("%1", dir.path().toLocal8Bit())));
        DebugCapture debug;
        MainWindow window;
        window.show();
        QVERIFY(debug.contains(complaint));
        QVERIFY(waitFor([] {
            const auto tops = QApplication::topLevelWidgets();
            return std::any_of(tops.begin(), tops.end(), [](QWidget *w) { return w->objectName() == "connection" && w->isVisible(); });
        }));
        QTest::qWait(1100);
        QCOMPARE(logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); }), 0);
        QCOMPARE(readFile(dir.filePath("plain")), earlier);
        QVERIFY(!ini.isEmpty() || entries(dir.filePath("config.ini")).isEmpty());
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
        QTest::newRow("non-ASCII names") << "chosen" << QString::fromUtf8("données été ü 日本") << QString::fromUtf8("relevé über 日本 1.tsv");
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
        QCOMPARE(downloadTo(w, directory + "/" + name, &proposed), complete);
        QVERIFY2(proposed.endsWith("/00012345_051214_090703.tsv"), qPrintable(proposed));
        QCOMPARE(readFile(directory + "/" + name), expectedExport(*w.logger, headerFor("Vantorel Temp\tHumidity", "\xB0" "C\t%RH")));
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
        LoggerWindow w(frozenLogger(3, 0x1FFF0));   // some 1 MB of lines for 64 KiB of room
        const QString directory = w.dir.filePath("small"), path = directory + "/campaign.tsv";
        QVERIFY(QDir().mkpath(directory));
        const QByteArray where = QFile::encodeName(directory);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("this user cannot mount a tmpfs: no full disk to write to");
        const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
        QVERIFY(!existing || writeFile(path, earlier));
        const QString outcome = downloadTo(w, path);
        QVERIFY2(!outcome.contains("Complete") && outcome.contains(path), qPrintable(outcome));
        // The old file intact, no partial file left.
        QCOMPARE(entries(directory), existing ? QStringList("campaign.tsv") : QStringList());
        QVERIFY(!existing || readFile(path) == earlier);
    }
};

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
