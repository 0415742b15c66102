// Which blocks a download reads when the archive holds the campaign, and the image it makes
// of them against the simulated logger. The window's downloads are tst_download's.

#include "archiveddownload.h"
#include "downloaddriver.h"
#include "exportfile.h"
#include "incremental.h"
#include "manageserialport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QTest>

class tst_Incremental : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<int>("previousUsed");   // -1: nothing archived
        QTest::addColumn<quint32>("nowUsed");
        QTest::addColumn<QString>("change");     // what differs in the archived download
        QTest::addColumn<bool>("full");
        QTest::addColumn<quint32>("from");
        QTest::addColumn<quint32>("to");
        QTest::addColumn<quint64>("newRecords");
        QTest::newRow("nothing archived") << -1 << 1000u << "" << true << 0u << 0u << quint64(500);
        QTest::newRow("an empty campaign archived") << 0 << 100u << "" << true << 0u << 0u << quint64(50);
        QTest::newRow("ended on a block: that block again") << 640 << 700u << "" << false << 576u << 704u << quint64(30);
        QTest::newRow("ended inside a block: the one before too") << 700 << 700u << "" << false << 576u << 704u << quint64(0);
        QTest::newRow("less than a block archived") << 30 << 130u << "" << false << 0u << 192u << quint64(50);
        QTest::newRow("fewer bytes than then") << 700 << 640u << "" << true << 0u << 0u << quint64(320);
        QTest::newRow("another start time") << 700 << 800u << "start" << true << 0u << 0u << quint64(400);
        QTest::newRow("another period") << 700 << 800u << "period" << true << 0u << 0u << quint64(400);
        QTest::newRow("no valid start time") << 700 << 800u << "no start" << true << 0u << 0u << quint64(50);
        QTest::newRow("archived image altered") << 700 << 800u << "hash" << true << 0u << 0u << quint64(50);
        QTest::newRow("archived image short") << 700 << 800u << "size" << true << 0u << 0u << quint64(50);
        QTest::newRow("wrapped since") << 0x1FF00 << 0x20040u << "" << false << 0x1FEC0u << 0x20040u << quint64(160);
        QTest::newRow("the whole memory since") << 1000 << 896u + 0x20000 << "" << false << 896u << 896u + 0x20000 << quint64(65484);
        QTest::newRow("more than the memory since") << 1000 << 960u + 0x20000 << "" << true << 0u << 0u << quint64(65516);
    }

    void plan()
    {
        QFETCH(int, previousUsed);
        QFETCH(quint32, nowUsed);
        QFETCH(QString, change);
        QFETCH(quint32, from);
        QFETCH(quint32, to);
        LoggerStatus now;
        now.address = 0x12345, now.deviceType = 1, now.memorySizeCode = 2, now.usedBytes = nowUsed;
        now.startTime = QDateTime(QDate(2026, 11, 26), QTime(16, 52), Qt::UTC);
        Archive::Download previous;
        previous.status = now;
        previous.status.usedBytes = quint32(previousUsed);
        previous.image = QByteArray(previousUsed > 0x1FFFF ? 0x20000 : (previousUsed + 63) / 64 * 64, '\x5A');
        previous.sha256 = QCryptographicHash::hash(previous.image, QCryptographicHash::Sha256);
        if (change == "start")
            previous.status.startTime = now.startTime.addSecs(-60);
        if (change == "period")
            previous.status.periodCode = 8;
        if (change == "no start")
            now.startTime = previous.status.startTime = QDateTime();
        if (change == "hash")
            previous.image[0] = 0;
        if (change == "size")
            previous.image.chop(1), previous.sha256 = QCryptographicHash::hash(previous.image, QCryptographicHash::Sha256);
        const Archive::ReadPlan plan = Archive::planRead(now, previousUsed < 0 ? nullptr : &previous);
        QTEST(plan.full, "full");
        QTEST(Archive::newRecords(now, previousUsed < 0 ? nullptr : &previous), "newRecords");
        QVERIFY(plan.full != plan.whyFull.isEmpty());
        if (!plan.full)
            QCOMPARE(std::make_tuple(plan.from, plan.to, plan.checkEnd), std::make_tuple(from, to, quint32(previousUsed)));
    }

    void acrossTheWrap_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("past");   // bytes recorded past the end of the memory
        for (quint32 past : {0u, 2u, 4u, 62u, 64u})
            QTest::addRow("2-byte records, %u past the wrap", past) << 1 << past;
        for (quint32 past : {0u, 4u, 60u, 64u})
            QTest::addRow("4-byte records, %u past the wrap", past) << 3 << past;
    }

    // What the archive stores and the file written from an incremental read are, byte for
    // byte, what a full read gives: the logger's whole memory.
    void acrossTheWrap()
    {
        QFETCH(int, type);
        QFETCH(quint32, past);
        ScratchDirectory dir;
        const quint32 thenUsed = 0x20000 + past - 0x100;
        std::unique_ptr<sim::PtyLogger> logger = startLogger(dir.path(), frozenLogger(type, thenUsed));
        // No byte of it zero, so that one taken from a fresh buffer shows.
        logger->withLogger([](sim::SimulatedLogger &l) { std::generate(l.memory().begin(), l.memory().end(), [i = 0]() mutable { return quint8(1 + i++ * 7 % 251); }); });
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QString error;
        const std::unique_ptr<Archive::Store> store = Archive::Store::open({dir.filePath("archive.sqlite")}, &error);
        QVERIFY2(store, qPrintable(error));
        LoggerStatus status;
        QVERIFY(Device::readStatus(port, status).complete);
        const auto memoryNow = [&] { return logger->read<std::vector<quint8>>([](sim::SimulatedLogger &l) { return l.memory(); }); };
        // Archived as full reads store them; the earlier one is not the base.
        LoggerStatus earlier = status;
        earlier.usedBytes -= 0x100;
        QVERIFY(store->storeDownload(earlier, Archive::storedImage(earlier, memoryNow()), &error));
        QVERIFY(store->storeDownload(status, Archive::storedImage(status, memoryNow()), &error));

        logger->withLogger([&](sim::SimulatedLogger &l) { l.addRecords(0x100 / l.recordSize()); });
        QVERIFY(Device::readStatus(port, status).complete);
        Device::RecordMemory memory;
        const Archive::ReadReport report = Archive::readThroughArchive(port, status, store.get(), false, memory, {});
        QVERIFY(report.result == Device::DownloadResult::Complete && report.incremental);
        QVERIFY(report.bytesRead <= 0x100 + 2 * 64);   // what is new, and the blocks at its ends
        const std::vector<quint8> full = memoryNow();
        QCOMPARE(store->download(report.downloadId, &error).value_or(Archive::Download()).image, QByteArray(reinterpret_cast<const char *>(full.data()), 0x20000));
        QBuffer file;
        file.open(QIODevice::WriteOnly);
        QVERIFY(Device::writeExport(file, status, memory, {}, &error));
        QCOMPARE(file.data(), expectedExport(*logger, exportHeader(status.address, status.deviceType)));
    }
};

QTEST_GUILESS_MAIN(tst_Incremental)
#include "tst_incremental.moc"
