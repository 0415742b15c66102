// Adapters coming and going: only the configured port is news, and its handle is let go.

#include "manageserialport.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

class PortWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void configuredPortOnly()
    {
        ScratchDirectory dir;
        QVERIFY(QDir(dir.path()).mkdir("other"));
        const QString mine = dir.filePath("ttyLOGGER"), other = dir.filePath("other/ttyLOGGER");
        dir.writeConfig("[COM]\nCOM_PORT=" + mine.toUtf8() + "\n");
        qputenv("VANTOREL_EXTRA_PORTS", (mine + ':' + other).toLocal8Bit());
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
            QVERIFY(!port.isOpen());   // the dead handle is gone, so the adapter can be opened again
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
        QCOMPARE(QList<int>({int(opened.count()), int(closed.count())}), QList<int>({2, 1}));
        qunsetenv("VANTOREL_EXTRA_PORTS");
    }
};

QTEST_GUILESS_MAIN(PortWatcherTest)
#include "tst_portwatcher.moc"
