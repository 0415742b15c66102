#include "manageserialport.h"
#include "portwatcher.h"
#include "testsupport.h"

#include <QFile>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Sets VANTOREL_EXTRA_PORTS for the lifetime of the object.
struct ExtraPorts {
    explicit ExtraPorts(const QStringList &paths) { qputenv("VANTOREL_EXTRA_PORTS", paths.join(':').toLocal8Bit()); }
    ~ExtraPorts() { qunsetenv("VANTOREL_EXTRA_PORTS"); }
};

QStringList systemPorts()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

} // namespace

class PortWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void extraPorts()
    {
        ScratchDirectory dir;
        const QString a = dir.filePath("a"), b = dir.filePath("b"), c = dir.filePath("c");
        for (const QString &path : {a, b}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(a, c));
        QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("dangling")));
        ExtraPorts extra({"", b, dir.filePath("missing"), "", a, dir.filePath("dangling"), c, b, ""});
        QCOMPARE(PortWatcher::availablePortNames(), systemPorts() + QStringList({b, a, c}));
    }

    void plugAndUnplug()
    {
        ScratchDirectory dir;
        const QString link = dir.filePath("ttyLOGGER");
        ExtraPorts extra({link});
        PortWatcher watcher(nullptr, 20);
        QSignalSpy attached(&watcher, &PortWatcher::portAttached);
        QSignalSpy removed(&watcher, &PortWatcher::portRemoved);
        auto logger = startLogger(dir.path());
        QVERIFY(waitFor([&] { return attached.count() == 1; }));
        QCOMPARE(attached.at(0).at(0).toString(), link);

        // A port already there when a watcher starts is not news.
        PortWatcher late(nullptr, 20);
        QSignalSpy lateAttached(&late, &PortWatcher::portAttached);
        QSignalSpy lateRemoved(&late, &PortWatcher::portRemoved);

        logger->unplug();
        QVERIFY(waitFor([&] { return removed.count() == 1 && lateRemoved.count() == 1; }));
        QCOMPARE(removed.at(0).at(0).toString(), link);
        QCOMPARE(lateAttached.count(), 0);
        logger->replug();
        QVERIFY(waitFor([&] { return attached.count() == 2 && lateAttached.count() == 1; }));
        QCOMPARE(removed.count(), 1);
    }

    void configuredPortOnly()
    {
        ScratchDirectory dir;
        QVERIFY(QDir(dir.path()).mkdir("other"));
        const QString mine = dir.filePath("ttyLOGGER"), other = dir.filePath("other/ttyLOGGER");
        dir.writeConfig("[COM]\nCOM_PORT=" + mine.toUtf8() + "\n");
        ExtraPorts extra({mine, other});
        ManageSerialPort port;
        QSignalSpy opened(&port, &ManageSerialPort::comopen);
        QSignalSpy closed(&port, &ManageSerialPort::comclose);
        DebugCapture capture;
        const auto seen = [&](const QString &text) { return waitFor([&] { return capture.contains(text); }); };

        auto otherLogger = startLogger(dir.filePath("other"));
        QVERIFY(seen("port discovered :  \"" + other + "\" \"" + mine + "\""));
        auto logger = startLogger(dir.path());
        QVERIFY(waitFor([&] { return opened.count() == 1; }));
        QVERIFY(port.openPort(mine));

        logger->unplug();
        QVERIFY(waitFor([&] { return closed.count() == 1; }));
        QVERIFY(capture.contains("port disconnect :  \"" + mine + "\" \"" + mine + "\""));
        // The dead handle is gone, so the adapter can be opened again once it is back.
        QVERIFY(!port.isOpen());
        logger->replug();
        QVERIFY(waitFor([&] { return opened.count() == 2; }));
        QVERIFY(port.openPort(mine));
        QVERIFY(port.readBlocks(0, 2, 1));

        otherLogger->unplug();
        QVERIFY(seen("port disconnect :  \"" + other + "\""));
        // Names are compared exactly.
        dir.writeConfig("[COM]\nCOM_PORT=" + mine.toUpper().toUtf8() + "\n");
        logger->unplug();
        QVERIFY(seen("port disconnect :  \"" + mine + "\" \"" + mine.toUpper() + "\""));
        QCOMPARE(opened.count(), 2);
        QCOMPARE(closed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(PortWatcherTest)
#include "tst_portwatcher.moc"
