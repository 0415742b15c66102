#include "manageserialport.h"
#include "portwatcher.h"
#include "testsupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Sets VANTOREL_EXTRA_PORTS for the lifetime of the object.
struct ExtraPorts {
    explicit ExtraPorts(const QStringList &paths) { qputenv("VANTOREL_EXTRA_PORTS", paths.join(':').toLocal8Bit()); }
    ~ExtraPorts() { qunsetenv("VANTOREL_EXTRA_PORTS"); }
};

} // namespace

class PortWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void extraPorts()
    {
        ScratchDirectory dir;
        const QString a = dir.filePath("a"), b = dir.filePath("b");
        for (const QString &path : {a, b}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        qunsetenv("VANTOREL_EXTRA_PORTS");
        const QStringList system = PortWatcher::availablePortNames();
        // After the system's, in the order given, once each, existing paths only.
        ExtraPorts extra({b, dir.filePath("missing"), a, b});
        QCOMPARE(PortWatcher::availablePortNames(), system + QStringList({b, a}));
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
        QVERIFY(seen("port discovered :  \"" + other));
        auto logger = startLogger(dir.path());
        QVERIFY(waitFor([&] { return opened.count() == 1; }));
        QVERIFY(port.openPort(mine));
        {
            // A port already there when a watcher starts is not news; its removal is.
            ManageSerialPort late;
            QSignalSpy lateOpened(&late, &ManageSerialPort::comopen);
            QSignalSpy lateClosed(&late, &ManageSerialPort::comclose);
            logger->unplug();
            QVERIFY(waitFor([&] { return closed.count() == 1 && lateClosed.count() == 1; }));
            QCOMPARE(lateOpened.count(), 0);
            // The dead handle is gone, so the adapter can be opened again once it is back.
            QVERIFY(!port.isOpen());
            logger->replug();
            QVERIFY(waitFor([&] { return opened.count() == 2 && lateOpened.count() == 1; }));
        }
        QVERIFY(port.openPort(mine) && port.readBlocks(0, 2, 1));

        otherLogger->unplug();
        QVERIFY(seen("port disconnect :  \"" + other));
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
