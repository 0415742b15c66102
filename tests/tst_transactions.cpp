#include "frame.h"
#include "manageserialport.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The far end of a pty that answers every request with the same bytes, for answers the
// simulated logger cannot give.
class RawPeer : public QObject
{
public:
    RawPeer()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            qFatal("no pty");
        path = QString::fromLocal8Bit(ptsname(master));
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY); // so the master never sees a hang-up
        termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        connect(new QSocketNotifier(master, QSocketNotifier::Read, this), &QSocketNotifier::activated, this, [this] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
                received.append(buffer, n);
                for (ssize_t i = 0; i < n; ++i)
                    if (quint8(buffer[i]) == END_CHAR)
                        send(reply);
            }
        });
    }
    ~RawPeer() override
    {
        ::close(slave);
        ::close(master);
    }
    void send(const QByteArray &bytes)
    {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qWarning("raw peer: short write");
    }

    QString path;
    QByteArray received;
    QByteArray reply;

private:
    int master = -1;
    int slave = -1;
};

QByteArray answer(quint8 function, int blocks, quint8 fill = 0, quint32 address = 0x1234)
{
    QByteArray payload;
    for (int shift = 24; shift >= 0; shift -= 8)
        payload.append(char(quint8(address >> shift)));
    payload.append(char(function)).append(4, 0).append(8 * blocks, char(fill));
    FrameBuffer buffer;
    buildFrame(buffer, reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    return QByteArray(reinterpret_cast<const char *>(buffer.data.data()), buffer.length);
}

QByteArray badCrc(QByteArray frame)
{
    frame[frame.size() - 2] = char(frame[frame.size() - 2] ^ 0x01);
    return frame;
}

QByteArray replyAddress(const ManageSerialPort &port)
{
    return QByteArray(reinterpret_cast<const char *>(port.replyFrame()) + 1, 4).toHex();
}

int requestCount(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
}

std::unique_ptr<sim::PtyLogger> silentLogger(const ScratchDirectory &dir, bool silent = true)
{
    sim::FaultConfig faults;
    faults.silent = silent;
    return startLogger(dir.path(), sim::LoggerConfig(), faults);
}

} // namespace

class TransactionTest : public QObject
{
    Q_OBJECT

private slots:
    void readIdentity()
    {
        ScratchDirectory dir;
        auto logger = startLogger(dir.path());
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QCOMPARE(port.responseTimeout(), 40);
        QVERIFY(port.readBlocks(0, 2, 1));
        QCOMPARE(replyAddress(port), QByteArray("00001234"));
        QCOMPARE(port.replyLength(), 21);
        QVERIFY(port.readBlocks(0x1234, 0x01000000, 8));
        QCOMPARE(port.replyLength(), 77);
        // Another logger's address: nobody answers, and the failed read leaves 0xFF behind.
        QVERIFY(!port.readBlocks(0x4321, 2, 1));
        QCOMPARE(port.replyLength(), 0);
        QCOMPARE(port.replyData()[0], quint8(0xFF));
    }

    void retrySignals_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<uint>("attempts");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("noErrors");
        QTest::addColumn<int>("errors");
        QTest::addColumn<int>("requests");
        QTest::newRow("answers") << false << 2u << true << 1 << 0 << 1;
        QTest::newRow("silent") << true << 2u << false << 0 << 1 << 2;
        QTest::newRow("no attempt") << true << 0u << true << 1 << 0 << 0;
    }
    void retrySignals()
    {
        QFETCH(bool, silent);
        QFETCH(uint, attempts);
        QFETCH(int, noErrors);
        QFETCH(int, errors);
        ScratchDirectory dir;
        auto logger = silentLogger(dir, silent);
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QSignalSpy noError(&port, &ManageSerialPort::noErrorCom);
        QSignalSpy error(&port, &ManageSerialPort::errorCom);
        QTEST(port.readBlocksRetry(0, 2, 1, attempts), "result");
        QTEST(requestCount(*logger), "requests");
        // The link state is the retrying operations' business alone.
        port.readBlocks(0, 2, 1);
        port.writeByte(0, 0x44, 1);
        port.writeByteNoReply(0, 0x44, 1);
        port.wakeUpDevice();
        QCOMPARE(int(noError.count()), noErrors);
        QCOMPARE(int(error.count()), errors);
    }

    void timeouts_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("coeff");
        QTest::newRow("no file") << QByteArray() << 30 << 2;
        QTest::newRow("base only") << QByteArray("[COM_TIMEOUT]\nBASE=10\n") << 10 << 2;
        QTest::newRow("zero") << QByteArray("[COM_TIMEOUT]\nBASE=0\n") << 0 << 2;
        QTest::newRow("text") << QByteArray("[COM_TIMEOUT]\nBASE=fast\nCOEFF_OVER_4=x\n") << 0 << 0;
        QTest::newRow("negative") << QByteArray("[COM_TIMEOUT]\nBASE=-50\n") << 0 << 2;
    }
    void timeouts()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, base);
        ScratchDirectory dir;
        if (!ini.isNull())
            dir.writeConfig(ini);
        auto logger = silentLogger(dir);
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QCOMPARE(port.timeoutBase(), base);
        QTEST(port.timeoutCoeffOver4(), "coeff");
        DebugCapture capture;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!port.readBlocks(0, 2, 1));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(port.responseTimeout(), ManageSerialPort::readTimeoutFor(1, base));
        if (base == 30)
            QVERIFY2(elapsed >= 15, qPrintable(QString::number(elapsed)));
        QVERIFY(!port.writeByte(0, 0x44, 1));
        QCOMPARE(port.responseTimeout(), 2 * base);
        QCOMPARE(capture.lines(), QStringList()); // silence is not worth a message
    }

    void readTimeoutTable()
    {
        const int cases[][3] = {{1, 30, 22}, {3, 30, 22}, {4, 30, 52}, {7, 30, 52}, {8, 30, 82}, {2, 10, 7}, {8, -5, 0}};
        for (const auto &c : cases)
            QCOMPARE(ManageSerialPort::readTimeoutFor(quint8(c[0]), c[1]), c[2]);
    }

    void wireBytes()
    {
        ScratchDirectory dir;
        RawPeer peer;
        ManageSerialPort port;
        QVERIFY(port.openPort(peer.path));
        QVERIFY(port.readBlocksRetry(0, 2, 1, 0));
        port.readBlocks(0, 2, 1);
        QCOMPARE(peer.received.toHex(' '), QByteArray("ff ff ff c0 00 00 00 00 08 00 00 00 02 01 19 60 c1"));
        peer.received.clear();
        port.writeByte(0x1234, 0x42, 0xC0);
        QCOMPARE(peer.received.toHex(' '), QByteArray("ff ff ff c0 00 00 12 34 07 00 00 00 42 7d e0 58 25 c1"));
    }

    void readAnswers_data()
    {
        QTest::addColumn<QByteArray>("stale");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<bool>("ok");
        const QByteArray one = answer(FC_RESPONSE, 1, 0x7D);
        const QByteArray none;
        QTest::newRow("one block") << none << one << 1 << true;
        QTest::newRow("one block for two") << none << one << 2 << false;
        QTest::newRow("noise before start") << none << QByteArray::fromHex("ffffff1200") + one << 1 << true;
        QTest::newRow("second start restarts") << none << QByteArray::fromHex("c00102") + one << 1 << true;
        QTest::newRow("trailing frame dropped") << none << one + answer(FC_RESPONSE, 1, 0, 0xDEAD) << 1 << true;
        QTest::newRow("stale input discarded") << answer(FC_RESPONSE, 1, 0, 0xDEAD) << one << 1 << true;
        QTest::newRow("bad crc") << none << badCrc(one) << 1 << false;
        QTest::newRow("not a response") << none << answer(FC_WRITE_BYTE, 1) << 1 << false;
        QTest::newRow("overlong") << none << char(START_CHAR) + QByteArray(1400, 0x01) + char(END_CHAR) << 1 << false;
    }
    void readAnswers()
    {
        QFETCH(QByteArray, stale);
        QFETCH(QByteArray, reply);
        QFETCH(int, blocks);
        QFETCH(bool, ok);
        ScratchDirectory dir;
        RawPeer peer;
        ManageSerialPort port;
        QVERIFY(port.openPort(peer.path));
        peer.send(stale);
        QTest::qWait(20);
        peer.reply = reply;
        DebugCapture capture;
        QCOMPARE(port.readBlocks(0, 2, quint8(blocks)), ok);
        if (ok)
            QCOMPARE(replyAddress(port), QByteArray("00001234"));
        if (reply.size() > FrameBuffer::capacity) {
            QCOMPARE(port.replyLength(), 0);
            QVERIFY(capture.lines().value(0).startsWith("/!\\ "));
        }
        // Nothing of this answer is left for the next transaction.
        peer.reply = answer(FC_RESPONSE, 1, 0, 0x5678);
        QVERIFY(port.readBlocks(0, 2, 1));
        QCOMPARE(replyAddress(port), QByteArray("00005678"));
    }

    void faultyLogger()
    {
        ScratchDirectory dir;
        dir.writeConfig("[COM_TIMEOUT]\nBASE=200\n");
        sim::FaultConfig faults;
        faults.noiseRate = 1;
        faults.splitChunk = 5;
        faults.chunkGapUs = 2000;
        auto logger = startLogger(dir.path(), sim::LoggerConfig(), faults);
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(port.readBlocks(0, 2, 1));
            QCOMPARE(replyAddress(port), QByteArray("00001234"));
        }
        logger->withLogger([](sim::SimulatedLogger &l) { l.faults() = sim::FaultConfig(); l.faults().wrongBlockRate = 1; });
        QVERIFY(!port.readBlocks(0, 2, 2));
        QVERIFY(!port.readBlocks(0, 2, 1));
    }

    void writeAcceptance_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::newRow("one block") << answer(FC_RESPONSE, 1) << true;
        QTest::newRow("no block") << answer(FC_RESPONSE, 0) << true;
        QTest::newRow("two blocks, byte 10 zero") << answer(FC_RESPONSE, 2, 0) << true;
        QTest::newRow("bad crc, byte 10 set") << badCrc(answer(FC_RESPONSE, 1, 0x55)) << true;
        QTest::newRow("bad crc, byte 10 zero") << badCrc(answer(FC_RESPONSE, 1, 0)) << false;
        QTest::newRow("not a response, byte 10 set") << answer(5, 1, 0x01) << true;
        QTest::newRow("not a response, byte 10 zero") << answer(5, 1, 0) << false;
        QTest::newRow("too short for byte 10") << QByteArray::fromHex("c00102c1") << false;
        QTest::newRow("silence") << QByteArray() << false;
    }
    void writeAcceptance()
    {
        QFETCH(QByteArray, reply);
        ScratchDirectory dir;
        RawPeer peer;
        ManageSerialPort port;
        QVERIFY(port.openPort(peer.path));
        peer.reply = reply;
        QTEST(port.writeByte(0x1234, 0x1A, 7), "ok");
    }

    void writeWithoutReply()
    {
        ScratchDirectory dir;
        auto logger = startLogger(dir.path());
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QVERIFY(port.readBlocks(0, 2, 1));
        const QByteArray before(reinterpret_cast<const char *>(port.replyFrame()), 21);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.writeByteNoReply(0x1234, 0x44, 1));
        QVERIFY(clock.elapsed() >= 45);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(port.replyFrame()), 21), before);
        const auto last = logger->read<sim::LoggedRequest>([](sim::SimulatedLogger &l) { return l.requests().last(); });
        QCOMPARE(QList<uint>({last.function, last.registerAddress, last.argument}), QList<uint>({FC_WRITE_BYTE, 0x44, 1}));
        // The unread answer to the write must not pass for the next read's.
        QVERIFY(port.readBlocks(0x1234, 0x01000000, 2));
    }

    void wakeUp_data()
    {
        QTest::addColumn<bool>("asleep");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<int>>("ffRuns");
        QTest::addColumn<int>("requests");
        // The bursts go out back to back: the logger sees them, with the next preamble, as one run.
        QTest::newRow("awake") << false << false << true << QList<int>{3, 3} << 2;
        QTest::newRow("asleep") << true << false << true << QList<int>{3, 2385 + 3} << 1;
        QTest::newRow("silent") << false << true << false << QList<int>{3, 2385 + 3} << 2;
    }
    void wakeUp()
    {
        QFETCH(bool, asleep);
        QFETCH(bool, silent);
        ScratchDirectory dir;
        auto logger = silentLogger(dir, silent);
        logger->withLogger([asleep](sim::SimulatedLogger &l) { l.setSleeping(asleep); });
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QTEST(port.wakeUpDevice(), "result");
        QTEST(logger->read<QList<int>>([](sim::SimulatedLogger &l) { return l.ffRuns(); }), "ffRuns");
        QTEST(requestCount(*logger), "requests");
    }

    void timeoutDump()
    {
        ScratchDirectory dir;
        RawPeer peer;
        ManageSerialPort port;
        QVERIFY(port.openPort(peer.path));
        peer.reply = QByteArray::fromHex("ff3ac0017d");
        DebugCapture capture;
        QVERIFY(!port.readBlocks(0, 2, 1));
        QCOMPARE(capture.lines(), QStringList{"\"Timeout, display receivedFrameChars (l=3) : c0 01 7d \\r\\n\" 0"});
    }

    void secondTransactionRefused()
    {
        ScratchDirectory dir;
        dir.writeConfig("[COM_TIMEOUT]\nBASE=400\n");
        sim::LineConfig line;
        line.answerLatencyUs = 20000;
        auto logger = startLogger(dir.path(), sim::LoggerConfig(), sim::FaultConfig(), line);
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        QSignalSpy noError(&port, &ManageSerialPort::noErrorCom);
        QSignalSpy error(&port, &ManageSerialPort::errorCom);
        QList<bool> results;
        bool waiting = false;
        QTimer::singleShot(0, &port, [&] {
            waiting = port.isWaiting();
            results << port.readBlocks(0, 2, 1) << port.readBlocksRetry(0, 2, 1, 2) << port.readBlocksRetry(0, 2, 1, 0)
                    << port.writeByte(0, 0x44, 1) << port.writeByteNoReply(0, 0x44, 1) << port.wakeUpDevice()
                    << port.sendReadRequest(0, 2, 1) << port.sendWriteRequest(0, 0x44, 1) << port.openPort(logger->linkPath());
            port.closePort();
        });
        DebugCapture capture;
        QVERIFY(port.readBlocks(0, 2, 1));
        QVERIFY(waiting);
        QCOMPARE(results, QList<bool>(9, false));
        QCOMPARE(capture.lines().size(), 10);
        for (const QString &text : capture.lines())
            QVERIFY2(text.startsWith("/!\\ "), qPrintable(text));
        QCOMPARE(noError.count() + error.count(), 0);
        QCOMPARE(requestCount(*logger), 1);
        QVERIFY(port.isOpen() && !port.isWaiting());
        QVERIFY(port.readBlocksRetry(0, 2, 1, 1));
    }

    void closedPort()
    {
        ScratchDirectory dir;
        auto *port = new ManageSerialPort;
        DebugCapture capture;
        QVERIFY(!port->openPort(dir.filePath("ttyNONE")));
        QVERIFY(!port->isOpen());
        QCOMPARE(capture.lines(), QStringList{"Error opening port !"});
        capture.clear();
        QVERIFY(!port->readBlocks(0, 2, 1));
        QCOMPARE(capture.lines(), QStringList({"/!\\ sendFrame : Port not open !", "/!\\ Emission problem", "sending error"}));
        QSignalSpy error(port, &ManageSerialPort::errorCom);
        QVERIFY(!port->readBlocksRetry(0, 2, 1, 2));
        QCOMPARE(error.count(), 1);
        QVERIFY(!port->writeByte(0, 0x44, 1));
        QVERIFY(!port->writeByteNoReply(0, 0x44, 1));
        QVERIFY(!port->wakeUpDevice());
        capture.clear();
        delete port;
        QCOMPARE(capture.lines(), QStringList{QStringLiteral("Objet ManageSerialPort détruit")});
    }

    void deviceNames()
    {
        const QList<std::tuple<QString, bool, QString>> cases{
            {"com1", true, "\\\\.\\com1"}, {"COM12", true, "\\\\.\\COM12"}, {"Com3", true, "\\\\.\\Com3"},
            {"ttyUSB0", true, "ttyUSB0"},  {"/dev/ttyS0", true, "/dev/ttyS0"}, {"xCOM1", true, "xCOM1"},
            {"COM12", false, "COM12"},     {"com1", false, "com1"},            {"/dev/ttyS0", false, "/dev/ttyS0"}};
        for (const auto &[name, windows, device] : cases)
            QCOMPARE(ManageSerialPort::deviceNameFor(name, windows), device);
    }
};

QTEST_GUILESS_MAIN(TransactionTest)
#include "tst_transactions.moc"
