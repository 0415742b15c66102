// Which blocks a download reads when the archive holds the campaign. The downloads
// themselves, against the simulated logger, are the window's tests.

#include "incremental.h"

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
};

QTEST_GUILESS_MAIN(tst_Incremental)
#include "tst_incremental.moc"
