// What of the simulated logger the window tests cannot see; its parser is fuzzed besides.

#include "frame.h"
#include "simulatedlogger.h"

#include <QTest>

using namespace sim;

namespace {

QByteArray request(quint32 address, quint8 function, quint32 reg, quint8 argument)
{
    const quint8 payload[10] = {quint8(address >> 24), quint8(address >> 16), quint8(address >> 8), quint8(address),
                                function, quint8(reg >> 24), quint8(reg >> 16), quint8(reg >> 8), quint8(reg), argument};
    FrameBuffer frame;
    buildFrame(frame, payload, 10);
    return QByteArray(3, char(0xFF)) + QByteArray(reinterpret_cast<const char *>(frame.data.data()), frame.length);
}

QByteArray ask(SimulatedLogger &logger, const QByteArray &bytes, qint64 nowMs = 0)
{
    return logger.receive(bytes.constData(), bytes.size(), nowMs).answer;
}

LoggerConfig frozen()
{
    LoggerConfig config;   // type 3: 4-byte records
    config.timeScale = 0;
    return config;
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void unheardRequests()
    {
        SimulatedLogger logger(frozen());
        QByteArray badCrc = request(0x1234, 8, 2, 1);
        badCrc[badCrc.size() - 2] = char(badCrc[badCrc.size() - 2] ^ 0x01);
        QVERIFY(ask(logger, badCrc).isEmpty());
        QCOMPARE(logger.requests().size(), 0);
        // Another logger's request is logged, not answered.
        QVERIFY(ask(logger, request(0x1235, 8, 2, 1)).isEmpty());
        QCOMPARE(logger.requests().size(), 1);
        QVERIFY(!ask(logger, request(0x1234, 8, 2, 1)).isEmpty());
    }

    // Erasing stops the recording; writing 0x43 starts it R seconds into the first period.
    void newCampaign()
    {
        LoggerConfig config = frozen();
        config.timeScale = 1;
        SimulatedLogger logger(config);
        qint64 now = 1000;
        const auto write = [&](quint32 reg, int value) { QVERIFY(!ask(logger, request(0x1234, 7, reg, quint8(value)), now).isEmpty()); };
        write(0x0100001A, 9);  // 1 h
        for (quint32 reg : {0x01000020u, 0x01000021u, 0x01000022u})
            write(reg, 0);
        now += 2 * 3600 * 1000;   // two periods, in which an erased logger records nothing
        write(0x42, 3590 & 0xFF);
        QVERIFY(!logger.isRecording());
        QCOMPARE(logger.usedBytes(), 0u);
        write(0x43, 3590 >> 8);
        QVERIFY(logger.isRecording());
        QCOMPARE(int(logger.secondsInPeriod()), 3590);
        logger.setClock(now + 12000);
        QCOMPARE(logger.usedBytes(), quint32(logger.recordSize()));
        QCOMPARE(int(logger.secondsInPeriod()), 2);
    }

    // A full 24-bit counter of 4-byte records in 128 KiB: records land at wrapped positions.
    void wrapAround()
    {
        LoggerConfig config = frozen();
        config.usedBytes = 0xFFFFFC;
        config.timeScale = 1;
        config.periodCode = 0;
        SimulatedLogger logger(config);
        logger.setClock(0);
        const quint32 top = logger.memoryTop();
        const quint32 newest = (config.usedBytes - 4) & top;
        const qint16 word = qint16(logger.memory()[newest] << 8 | logger.memory()[newest + 1]);
        QVERIFY2(word > 3960 + 1000 && word < 3960 + 3000, qPrintable(QString::number(word)));   // 10 to 30 degrees
        std::fill(logger.memory().begin(), logger.memory().end(), quint8(0xFF));
        logger.setClock(1000);
        QCOMPARE(logger.usedBytes(), 0u);
        QVERIFY(logger.memory()[(newest + 4) & top] != 0xFF || logger.memory()[(newest + 5) & top] != 0xFF);
    }

    void sleepAndWake_data()
    {
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("run");
        QTest::addColumn<bool>("answered");
        QTest::newRow("awake within the idle time") << 500 << 0 << true;
        QTest::newRow("asleep after it") << 1500 << 0 << false;
        QTest::newRow("run one short") << 1500 << 37 << false;
        QTest::newRow("run just long enough") << 1500 << 38 << true;
    }
    void sleepAndWake()
    {
        QFETCH(int, idleMs);
        QFETCH(int, run);
        LoggerConfig config = frozen();
        config.sleepAfterIdleMs = 1000;
        config.wakeRunLength = 41;
        SimulatedLogger logger(config);
        QVERIFY(!ask(logger, request(0, 8, 2, 1), 0).isEmpty());
        logger.clearFfRuns();
        QTEST(!ask(logger, QByteArray(run, char(0xFF)) + request(0, 8, 2, 1), idleMs).isEmpty(), "answered");
        QCOMPARE(logger.ffRuns(), QList<int>{run + 3});  // the request's own preamble continues the run
    }
};

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
