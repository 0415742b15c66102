// Downloads of only what is new: which blocks are read, and the file and archived image
// byte for byte those of a full read.

#include "downloaddriver.h"

#include "archiveddownload.h"
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
        QTest::newRow("nothing archived") << -1 << 1000u << "" << true << 0u << 0u;
        QTest::newRow("an empty campaign archived") << 0 << 100u << "" << true << 0u << 0u;
        QTest::newRow("ended on a block: that block again") << 640 << 700u << "" << false << 576u << 704u;
        QTest::newRow("ended inside a block: the one before too") << 700 << 700u << "" << false << 576u << 704u;
        QTest::newRow("less than a block archived") << 30 << 130u << "" << false << 0u << 192u;
        QTest::newRow("fewer bytes than then") << 700 << 640u << "" << true << 0u << 0u;
        QTest::newRow("another start time") << 700 << 800u << "start" << true << 0u << 0u;
        QTest::newRow("archived image altered") << 700 << 800u << "hash" << true << 0u << 0u;
        QTest::newRow("archived image short") << 700 << 800u << "size" << true << 0u << 0u;
        QTest::newRow("wrapped since") << 0x1FF00 << 0x20040u << "" << false << 0x1FEC0u << 0x20040u;
        QTest::newRow("the whole memory since") << 1000 << 896u + 0x20000 << "" << false << 896u << 896u + 0x20000;
        QTest::newRow("more than the memory since") << 1000 << 960u + 0x20000 << "" << true << 0u << 0u;
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
        if (change == "hash")
            previous.image[0] = 0;
        if (change == "size")
            previous.image.chop(1), previous.sha256 = QCryptographicHash::hash(previous.image, QCryptographicHash::Sha256);
        const Archive::ReadPlan plan = Archive::planRead(now, previousUsed < 0 ? nullptr : &previous);
        QTEST(plan.full, "full");
        QVERIFY(plan.full != plan.whyFull.isEmpty());
        if (!plan.full)
            QCOMPARE(std::make_tuple(plan.from, plan.to, plan.checkEnd), std::make_tuple(from, to, quint32(previousUsed)));
    }

    void secondDownload_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("usedBytes");  // at the first download
        QTest::addColumn<QString>("between");
        QTest::addColumn<int>("reads");          // block reads of the second download
        // 60 records more each time.
        QTest::newRow("plain") << 1 << 1000u << "" << 4;
        QTest::newRow("across the wrap-around") << 3 << 0x1FFC0u << "" << 5;
        QTest::newRow("a new campaign in between: full read") << 1 << 1000u << "new campaign" << 2;
        QTest::newRow("a changed last block: full read") << 1 << 1000u << "changed last block" << 4 + 18;
        QTest::newRow("full read asked for") << 1 << 1000u << "full" << 18;
    }

    void secondDownload()
    {
        QFETCH(int, type);
        QFETCH(quint32, usedBytes);
        QFETCH(QString, between);
        ScratchDirectory dir;
        auto logger = startLogger(dir.path(), frozenLogger(type, usedBytes));
        ManageSerialPort port;
        port.openPort(logger->linkPath());
        QString error;
        const auto store = Archive::Store::open({dir.filePath("archive.sqlite")}, &error);
        QVERIFY2(store, qPrintable(error));
        LoggerStatus s;
        Device::RecordMemory memory;
        QVERIFY(Device::readStatus(port, s).complete);
        QCOMPARE(Archive::readThroughArchive(port, s, store.get(), false, memory, {}).result, Device::DownloadResult::Complete);

        logger->withLogger([&](sim::SimulatedLogger &l) {
            if (between == "new campaign")
                l.configRegisters()[0x35] = 0x01, l.setUsedBytes(0);   // started a second later
            if (between == "changed last block")
                l.memory()[usedBytes - 1] ^= 0xFF;
            l.addRecords(60);
        });
        const int readsBefore = blockReads(*logger);
        QVERIFY(Device::readStatus(port, s).complete);
        memory = {};   // another process: only the archive remembers
        const Archive::ReadReport report = Archive::readThroughArchive(port, s, store.get(), between == "full", memory, {});
        QTEST(blockReads(*logger) - readsBefore, "reads");
        QCOMPARE(report.incremental, between.isEmpty());
        QCOMPARE(report.newRecords, 60u);

        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(Device::writeExport(out, s, memory, {}, &error));
        QCOMPARE(out.data(), expectedExport(*logger, exportHeader(s.address, s.deviceType)));
        const std::optional<Archive::Download> stored = store->latestOfCampaign(s, &error);
        QVERIFY(stored && stored->id == report.downloadId);
        const auto simMemory = logger->read<std::vector<quint8>>([](sim::SimulatedLogger &l) { return l.memory(); });
        QCOMPARE(stored->image, QByteArray(reinterpret_cast<const char *>(simMemory.data()),
                                           qMin<int>(int(simMemory.size()), int(s.usedBytes + 63) / 64 * 64)));
    }
};

QTEST_GUILESS_MAIN(tst_Incremental)
#include "tst_incremental.moc"
