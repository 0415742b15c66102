// The simulated logger's own model: what the program's tests take for granted.

#include "frame.h"
#include "ptylogger.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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

// The answer unstuffed, or empty unless it is one frame with a good CRC and function 6.
QByteArray unstuffed(const QByteArray &wire)
{
    FrameBuffer frame;
    setBuffer(frame, reinterpret_cast<const quint8 *>(wire.constData()), int(wire.size()));
    unstuffFrame(frame);
    if (wire.isEmpty() || quint8(wire[0]) != START_CHAR || !checkCrc(frame) || frame.data[5] != FC_RESPONSE)
        return {};
    return QByteArray(reinterpret_cast<const char *>(frame.data.data()), frame.length);
}

LoggerConfig frozen(quint8 type = 3)
{
    LoggerConfig config;
    config.deviceType = type;
    config.timeScale = 0;
    return config;
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void parseRequest_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("valid");
        const QByteArray read = request(0x1234, 8, 0x01000000, 1).mid(4).chopped(1);
        const QByteArray stuffed = request(0x1234, 7, 0x42, 0xC0).mid(4).chopped(1);
        QTest::newRow("read") << read << true;
        QTest::newRow("stuffed value") << stuffed << true;
        QTest::newRow("bad CRC") << read.chopped(1) + char(read.back() ^ 1) << false;
        QTest::newRow("byte missing") << read.mid(1) << false;
        QTest::newRow("byte too many") << read + char(0) << false;
        QTest::newRow("escape at the end") << read.chopped(1) + char(0x7D) << false;
        QTest::newRow("raw delimiter") << QByteArray(stuffed).replace("\x7D\xE0", "\xC0") << false;
        QTest::newRow("answer code") << request(0x1234, 6, 2, 1).mid(4).chopped(1) << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void parseRequest()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, valid);
        LoggedRequest parsed;
        QCOMPARE(SimulatedLogger::parseRequest(body, parsed), valid);
        if (valid && parsed.function == 7)
            QCOMPARE(parsed.argument, quint8(0xC0));
        if (valid && parsed.function == 8)
            QCOMPARE(parsed.registerAddress, 0x01000000u);
    }

    void addressingAndReads_data()
    {
        QTest::addColumn<quint32>("own");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");      // of the unstuffed answer, 0: none
        QTest::addColumn<int>("offset");      // a data byte to check
        QTest::addColumn<int>("value");
        QTest::newRow("probe to 0") << 0x1234u << request(0, 8, 2, 1) << 21 << -1 << 0;
        QTest::newRow("other address") << 0x1234u << request(0x1235, 8, 2, 1) << 0 << -1 << 0;
        QTest::newRow("stuffed own address") << 0x7DC0C17Du << request(0x7DC0C17D, 8, 0x01000000, 1) << 21 << 0 << 3;
        QTest::newRow("noise, restarted frame") << 0x1234u << QByteArray("\x11\xC0\x22\x33") + request(0x1234, 8, 0x01000000, 1)
                                                << 21 << 6 << 2;
        QTest::newRow("two blocks") << 0x1234u << request(0x1234, 8, 0x01000040, 2) << 29 << 1 << 0x0F;
        QTest::newRow("nine blocks read as eight") << 0x1234u << request(0x1234, 8, 0x01000000, 9) << 77 << -1 << 0;
        QTest::newRow("zero blocks read as one") << 0x1234u << request(0x1234, 8, 0x01000000, 0) << 21 << -1 << 0;
        QTest::newRow("counter behind 0x44") << 0x1234u << request(0x1234, 8, 0x44, 1) << 21 << 4 << 0x78;
        QTest::newRow("battery at 0x45") << 0x1234u << request(0x1234, 8, 0x45, 1) << 21 << 0 << 4;
        QTest::newRow("write echoed") << 0x1234u << request(0x1234, 7, 0x44, 1) << 21 << 0 << 1;
    }
    void addressingAndReads()
    {
        QFETCH(quint32, own);
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QFETCH(int, offset);
        QFETCH(int, value);
        LoggerConfig config = frozen();
        config.address = own;
        SimulatedLogger logger(config);
        logger.setLiveValue(0x48, QByteArray("\x78\x56\x34\x12", 4));
        const QByteArray answer = ask(logger, bytes);
        QCOMPARE(answer.isEmpty(), length == 0);
        QCOMPARE(logger.requests().size(), 1);
        QCOMPARE(logger.requests().first().answered, length != 0);
        if (length == 0)
            return;
        const QByteArray frame = unstuffed(answer);
        QCOMPARE(frame.size(), length);
        QCOMPARE(frame.mid(1, 4), QByteArray::fromHex(QByteArray::number(own, 16).rightJustified(8, '0')));
        if (offset >= 0)
            QCOMPARE(int(quint8(frame[10 + offset])), value);
    }

    void newCampaign_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("periodCode");
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("laterMs");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("seconds");
        QTest::newRow("frozen right after") << 3 << 13 << 163 << 0 << 0 << 163;
        QTest::newRow("pulses, counter cleared") << 2 << 2 << 3 << 0 << 0 << 3;
        QTest::newRow("one period later") << 1 << 2 << 3 << 5500 << 1 << 3;
        QTest::newRow("high byte of R") << 8 << 9 << 300 << 7000 << 0 << 307;
    }
    void newCampaign()
    {
        QFETCH(int, type);
        QFETCH(int, periodCode);
        QFETCH(int, r);
        QFETCH(int, laterMs);
        QFETCH(int, records);
        QFETCH(int, seconds);
        LoggerConfig config = frozen(quint8(type));
        config.timeScale = laterMs ? 1.0 : 0.0;
        SimulatedLogger logger(config);
        logger.setLiveValue(0x48, QByteArray(4, char(0x11)));
        qint64 now = 1000;
        const auto write = [&](quint32 reg, int value) { QVERIFY(!ask(logger, request(0x1234, 7, reg, quint8(value)), now).isEmpty()); };
        write(0x0100001A, periodCode);
        for (quint32 reg : {0x01000020u, 0x01000021u, 0x01000022u})
            write(reg, 0);
        if (type == 2 || type == 8)
            for (quint32 reg : {0x48u, 0x49u, 0x4Au, 0x4Bu})
                write(reg, 0);
        now += 120000;  // an erased logger records nothing until its new start
        const quint8 start[6] = {0x14, 0x05, 0x00, 0x26, 0x11, 0x27};  // hour, minute, second, year, month, day
        const quint32 clockRegs[6] = {0x01000033, 0x01000034, 0x01000035, 0x01000030, 0x01000031, 0x01000032};
        for (int i = 0; i < 6; ++i)
            write(clockRegs[i], start[i]);
        write(0x42, r & 0xFF);
        QCOMPARE(logger.usedBytes(), 0u);
        write(0x43, r >> 8);
        QVERIFY(logger.isRecording());
        logger.setClock(now + laterMs);
        QCOMPARE(logger.usedBytes(), quint32(records * logger.recordSize()));
        QCOMPARE(int(logger.secondsInPeriod()), seconds);
        QCOMPARE(int(logger.configRegisters()[0x1A]), periodCode);
        const QByteArray clock = unstuffed(ask(logger, request(0x1234, 8, 0x01000030, 1), now + laterMs));
        QCOMPARE(clock.mid(10, 6), QByteArray::fromHex("261127140500"));
        if (type == 2 || type == 8)
            QCOMPARE(unstuffed(ask(logger, request(0x1234, 8, 0x44, 1), now + laterMs)).mid(14, 4), QByteArray(4, '\0'));
    }

    void wrapAround_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("memoryCode");
        QTest::addColumn<quint32>("used");
        QTest::newRow("2-byte records past 128 KiB") << 1 << 2 << 0x20010u;
        QTest::newRow("4-byte records past 256 KiB") << 6 << 4 << 0x40024u;
        QTest::newRow("counter full") << 3 << 2 << 0xFFFFFCu;
    }
    void wrapAround()
    {
        QFETCH(int, type);
        QFETCH(int, memoryCode);
        QFETCH(quint32, used);
        LoggerConfig config = frozen(quint8(type));
        config.memorySizeCode = quint8(memoryCode);
        config.usedBytes = used;
        config.timeScale = 1;
        config.periodCode = 0;
        SimulatedLogger logger(config);
        const quint32 size = logger.recordSize();
        const quint32 top = logger.memoryTop();
        QCOMPARE(top, memoryCode == 4 ? 0x3FFFFu : 0x1FFFFu);
        const quint32 last = used / size - 1;
        const QByteArray block = unstuffed(ask(logger, request(0x1234, 8, 0x02000000 + (last * size & top), 1)));
        QCOMPARE(quint16(quint8(block[10]) << 8 | quint8(block[11])), logger.recordWord(last, 0));
        const double celsius = type == 3 ? (qint16(logger.recordWord(last, 0)) - 3960) / 100.0
                                         : qint16(logger.recordWord(last, 0)) * (type == 1 ? 0.0625 : 0.125);
        QVERIFY2(celsius > 10 && celsius < 30, qPrintable(QString::number(celsius)));
        // The next record overwrites the oldest one, at the wrapped position.
        std::fill(logger.memory().begin(), logger.memory().end(), quint8(0xFF));
        logger.setClock(1000);
        QCOMPARE(logger.usedBytes(), (used + size) & 0xFFFFFF);
        QVERIFY(logger.memory()[used & top] != 0xFF || logger.memory()[(used + 1) & top] != 0xFF);
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
        QTest::newRow("wake-up bursts") << 1500 << 53 * 45 << true;
    }
    void sleepAndWake()
    {
        QFETCH(int, idleMs);
        QFETCH(int, run);
        QFETCH(bool, answered);
        LoggerConfig config = frozen();
        config.sleepAfterIdleMs = 1000;
        config.wakeRunLength = 41;
        SimulatedLogger logger(config);
        QVERIFY(!ask(logger, request(0, 8, 2, 1), 0).isEmpty());
        logger.clearFfRuns();
        QCOMPARE(!ask(logger, QByteArray(run, char(0xFF)) + request(0, 8, 2, 1), idleMs).isEmpty(), answered);
        QCOMPARE(logger.ffRuns(), QList<int>{run + 3});  // the request's own preamble continues the run
    }

    void faults_data()
    {
        QTest::addColumn<int>("blocks");
        QTest::newRow("one block") << 1;
        QTest::newRow("two blocks") << 2;
        QTest::newRow("eight blocks") << 8;
    }
    void faults()
    {
        QFETCH(int, blocks);
        FaultConfig faults;
        faults.wrongBlockRate = 1;
        SimulatedLogger logger(frozen(), faults);
        for (int i = 0; i < 20; ++i) {
            const QByteArray frame = unstuffed(ask(logger, request(0x1234, 8, 0x01000000, quint8(blocks))));
            const int got = (int(frame.size()) - 13) / 8;
            QVERIFY2(got == blocks - 1 || got == blocks + 1, qPrintable(QString::number(frame.size())));
            QVERIFY(got >= 1);
        }
        // Noise never carries an end character, and the frame that follows stays intact.
        logger.faults() = FaultConfig();
        logger.faults().noiseRate = 1;
        logger.faults().noiseBytes = 300;
        const QByteArray answer = ask(logger, request(0x1234, 8, 0x01000000, quint8(blocks)));
        QCOMPARE(answer.indexOf(char(END_CHAR)), answer.size() - 1);
        QCOMPARE(unstuffed(answer.mid(answer.lastIndexOf(char(START_CHAR)))).size(), 13 + 8 * blocks);
        // The unplug comes once, with the answer to the request that reaches the count.
        logger.faults() = FaultConfig();
        logger.faults().unplugAfterRequests = int(logger.requests().size()) + 2;
        const QByteArray probe = request(0, 8, 2, 1);
        QVERIFY(!logger.receive(probe.constData(), probe.size(), 0).unplug);
        const Exchange last = logger.receive(probe.constData(), probe.size(), 0);
        QVERIFY(last.unplug && !last.answer.isEmpty());
        QVERIFY(!logger.receive(probe.constData(), probe.size(), 0).unplug);
    }

    void overPty()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyLOGGER"));
        PtyLogger logger(link, frozen());
        QVERIFY2(logger.start(), qPrintable(logger.errorString()));
        const auto exchange = [&](int fd) {
            const QByteArray probe = request(0, 8, 2, 1);
            if (::write(fd, probe.constData(), size_t(probe.size())) != probe.size())
                return QByteArray();
            QByteArray got;
            pollfd p{fd, POLLIN, 0};
            while (!got.endsWith(char(END_CHAR)) && poll(&p, 1, 10000) > 0) {
                char buffer[256];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                got.append(buffer, int(n));
            }
            return unstuffed(got);
        };
        for (int pass = 0; pass < 2; ++pass) {  // the program's side closed and opened again
            const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
            QVERIFY(fd >= 0);  // left as the simulator set it: raw, no echo
            QCOMPARE(exchange(fd).mid(1, 4), QByteArray::fromHex("00001234"));
            if (pass == 1) {
                logger.unplug();
                QVERIFY(!QFileInfo::exists(link));
                QVERIFY(exchange(fd).isEmpty());
            }
            ::close(fd);
        }
        QCOMPARE(logger.read<int>([](SimulatedLogger &l) { return int(l.requests().size()); }), 2);
        logger.replug();
        QVERIFY(QFileInfo::exists(link));
        logger.stop();
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
