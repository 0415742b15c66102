// The link: transactions on a real port (what goes on the wire, which answers are taken,
// time-outs, retries, the link-state signals) and the small codecs as functions.

#include "codecs.h"
#include "frame.h"
#include "manageserialport.h"
#include "portaccess.h"
#include "portwatcher.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray bytesOf(const FrameBuffer &buffer) { return QByteArray(reinterpret_cast<const char *>(buffer.data.data()), buffer.length); }

// An answer as a logger sends it: stuffed, with its CRC. Fill 0x7D needs stuffing.
QByteArray answer(quint8 function, int blocks, quint8 fill = 0, quint32 address = 0x1234)
{
    QByteArray payload = QByteArray::fromHex(QByteArray::number(address, 16).rightJustified(8, '0'));
    payload.append(char(function)).append(4, 0).append(8 * blocks, char(fill));
    FrameBuffer buffer;
    buildFrame(buffer, reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    return bytesOf(buffer);
}

QByteArray badCrc(QByteArray frame) { return frame.replace(frame.size() - 2, 1, QByteArray(1, char(frame[frame.size() - 2] ^ 1))); }
QByteArray replyAddress(const ManageSerialPort &port) { return QByteArray(reinterpret_cast<const char *>(port.replyFrame()) + 1, 4).toHex(); }

// A port opened on a pty whose far end answers each request (each 0xC1 it gets) with
// `reply`: answers the simulated logger cannot give.
class RawPeer : public QObject
{
public:
    RawPeer() : master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            qFatal("no pty");
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY); // so the master never sees a hang-up
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        connect(new QSocketNotifier(master, QSocketNotifier::Read, this), &QSocketNotifier::activated, this, [this] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0; received.append(buffer, n))
                for (auto ends = std::count(buffer, buffer + n, char(END_CHAR)); ends > 0; --ends)
                    send(reply);
        });
        if (!port.openPort(QString::fromLocal8Bit(ptsname(master))))
            qFatal("cannot open the pty");
    }
    ~RawPeer() override { port.closePort(), ::close(slave), ::close(master); }
    void send(const QByteArray &bytes) { QVERIFY(::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size()); }

    ScratchDirectory dir;   // no config.ini: the default time-outs
    ManageSerialPort port;
    QByteArray received, reply;

private:
    int master, slave = -1;
};

// A port opened on a simulated logger, in a scratch directory with that config.ini.
struct LoggerLink {
    explicit LoggerLink(bool silent = false, const QByteArray &ini = {}, const sim::LineConfig &line = {})
    {
        dir.writeConfig(ini);
        sim::LoggerConfig config;
        sim::FaultConfig faults;
        config.timeScale = 0, faults.silent = silent;   // registers that stand still
        logger = startLogger(dir.path(), config, faults, line);
        if (!Device::openPort(port, logger->linkPath()))   // the time-out base of that config.ini
            qFatal("cannot open the simulated logger");
    }
    int requests() { return logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); }); }

    ScratchDirectory dir;
    std::unique_ptr<sim::PtyLogger> logger;
    ManageSerialPort port;
};

} // namespace

class TransactionTest : public QObject
{
    Q_OBJECT

private slots:
    // Plug and unplug are changes of the enumeration: what is there at start is not new.
    void portWatcherReportsChanges()
    {
        ScratchDirectory dir;
        const QString present = dir.filePath("ttyA"), added = dir.filePath("ttyB");
        QFile(present).open(QIODevice::WriteOnly);
        qputenv("VANTOREL_EXTRA_PORTS", (present + ":" + added).toLocal8Bit());
        PortWatcher watcher(nullptr, 50);
        QSignalSpy attached(&watcher, &PortWatcher::portAttached), removed(&watcher, &PortWatcher::portRemoved);
        QTest::qWait(300);
        QCOMPARE(attached.count(), 0);
        QFile(added).open(QIODevice::WriteOnly);
        QVERIFY(attached.wait(3000));
        QCOMPARE(attached.at(0).at(0).toString(), added);
        QFile::remove(present);
        QVERIFY(removed.wait(3000));
        QCOMPARE(removed.at(0).at(0).toString(), present);
        qunsetenv("VANTOREL_EXTRA_PORTS");
    }

    void smallCodecs()
    {
        QCOMPARE(crc16(reinterpret_cast<const quint8 *>("123456789"), 9), quint16(0x906E));
        QCOMPARE(QList<int>({toBcd(59), fromBcd(0x59)}), QList<int>({0x59, 59}));
        QCOMPARE(formatDeviceAddress(0xFFFF) + formatDeviceAddress(0x10000), QStringLiteral("FFFF00010000"));
        QCOMPARE(ManageSerialPort::deviceNameFor("com1", true) + ManageSerialPort::deviceNameFor("xCOM1", true), QStringLiteral("\\\\.\\com1xCOM1"));
    }

    void retrySignals_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answers") << false;
        QTest::newRow("silent: asked again") << true;
    }
    void retrySignals()
    {
        QFETCH(bool, silent);
        LoggerLink l(silent, "[COM_TIMEOUT]\nBASE=150\n");   // an answer late on a loaded machine is no retry
        QSignalSpy noError(&l.port, &ManageSerialPort::noErrorCom);
        QSignalSpy error(&l.port, &ManageSerialPort::errorCom);
        QCOMPARE(l.port.readBlocksRetry(0, 2, 1, 2), !silent);
        QCOMPARE(l.requests(), silent ? 2 : 1);
        // The link state is the retrying operations' business alone.
        l.port.readBlocks(0, 2, 1), l.port.writeByte(0, 0x44, 1), l.port.writeByteNoReply(0, 0x44, 1), l.port.wakeUpDevice();
        QCOMPARE(QList<int>({int(noError.count()), int(error.count())}), QList<int>({!silent, silent}));
    }

    void timeouts_data()
    {
        QTest::addColumn<QByteArray>("base");   // null: no config.ini
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("expectedBase");
        QTest::addColumn<int>("read");
        QTest::newRow("no setting") << QByteArray() << 1 << 30 << 22;   // (0.75 + 1 / 4) x 30, truncated
        QTest::newRow("8 blocks") << QByteArray() << 8 << 30 << 82;
        QTest::newRow("negative") << QByteArray("-5") << 1 << 0 << 0;
        QTest::newRow("text") << QByteArray("abc") << 1 << 0 << 0;
        QTest::newRow("past int") << QByteArray("99999999999") << 1 << 0 << 0;
        QTest::newRow("huge: capped, so that time-outs cannot overflow") << QByteArray("2147483647") << 0 << 10000 << 0;
    }
    void timeouts()
    {
        QFETCH(QByteArray, base);
        QFETCH(int, blocks);
        QFETCH(int, expectedBase);
        LoggerLink l(true, base.isNull() ? QByteArray() : "[COM_TIMEOUT]\nBASE=" + base + "\n");
        QCOMPARE(l.port.timeoutBase(), expectedBase);
        if (!blocks)
            return;
        DebugCapture capture;
        QVERIFY(!l.port.readBlocks(0, 2, quint8(blocks)));
        QTEST(l.port.responseTimeout(), "read");
        QVERIFY(!l.port.writeByte(0, 0x44, 1));
        QCOMPARE(l.port.responseTimeout(), 2 * expectedBase);
        QCOMPARE(capture.lines(), QStringList()); // silence is not worth a message
    }

    void wireBytes_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("crc low byte stuffed") << false << 0x57 << 1 << QByteArray("ffffffc000001234080000005701" "7d5d24c1");
        QTest::newRow("crc high byte stuffed") << false << 0x5C << 1 << QByteArray("ffffffc000001234080000005c01d5" "7de0c1");
        QTest::newRow("at most 8 blocks") << false << 0x57 << 20 << QByteArray("ffffffc000001234080000005708bcb9c1");
        QTest::newRow("write, value stuffed") << true << 0x42 << 0xC0 << QByteArray("ffffffc00000123407000000427de05825c1");
    }
    void wireBytes()
    {
        QFETCH(bool, write);
        QFETCH(int, reg);
        QFETCH(int, argument);
        RawPeer l;
        write ? l.port.writeByte(0x1234, quint32(reg), quint8(argument)) : l.port.readBlocks(0x1234, quint32(reg), quint8(argument));
        QTEST(l.received.toHex(), "wire");
    }

    void readAnswers_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");   // the first debug line, when it matters
        const QByteArray one = answer(FC_RESPONSE, 1, 0x7D);
        QTest::newRow("one stuffed block") << one << 1 << true << QString();
        QTest::newRow("one block for two") << one << 2 << false << QString();
        QTest::newRow("bad crc") << badCrc(one) << 1 << false << QString();
        QTest::newRow("a start character restarts the frame") << QByteArray::fromHex("c00102") + one << 1 << true << QString();
        QTest::newRow("trailing frame dropped") << one + answer(FC_RESPONSE, 1, 0, 0xDEAD) << 1 << true << QString();
        QTest::newRow("no end") << QByteArray::fromHex("ff3ac0017d") << 1 << false
                                << "\"Timeout, display receivedFrameChars (l=3) : c0 01 7d \\r\\n\" 0";
        QTest::newRow("overlong") << char(START_CHAR) + QByteArray(1400, 0x01) + char(END_CHAR) << 1 << false
                                  << "/!\\ answer longer than 1300 bytes refused";
    }
    void readAnswers()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, blocks);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        RawPeer l;
        l.reply = answer(FC_RESPONSE, 1, 0, 0x5678);
        QVERIFY(l.port.readBlocks(0, 2, 1));
        l.send(answer(FC_RESPONSE, 1, 0, 0xDEAD));   // stale, to be discarded
        QTest::qWait(20);
        l.reply = reply;
        DebugCapture capture;
        QCOMPARE(l.port.readBlocks(0, 2, quint8(blocks)), ok);
        QVERIFY(!ok || replyAddress(l.port) == "00001234");
        QVERIFY(message.isEmpty() || (capture.lines().value(0) == message && l.port.replyLength() == 0));
        // Nothing of this answer is left for the next transaction.
        l.reply = answer(FC_RESPONSE, 1, 0, 0x5678);
        QVERIFY(l.port.readBlocks(0, 2, 1));
        QCOMPARE(replyAddress(l.port), QByteArray("00005678"));
    }

    void writeAcceptance_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        // Byte 10 set vouches for any frame; else the answer must be good, its length aside.
        QTest::newRow("one block") << answer(FC_RESPONSE, 1) << true;
        QTest::newRow("two blocks, byte 10 zero") << answer(FC_RESPONSE, 2) << true;
        QTest::newRow("bad crc, byte 10 set") << badCrc(answer(FC_RESPONSE, 1, 0x55)) << true;
        QTest::newRow("bad crc, byte 10 zero") << badCrc(answer(FC_RESPONSE, 1)) << false;
        QTest::newRow("not a response, byte 10 zero") << answer(5, 1) << false;
        QTest::newRow("too short for byte 10") << QByteArray::fromHex("c00102c1") << false;
    }
    void writeAcceptance()
    {
        RawPeer l;
        QFETCH(QByteArray, reply);
        l.reply = reply;
        QSignalSpy noError(&l.port, &ManageSerialPort::noErrorCom);   // the link state is not a write's business
        QTEST(l.port.writeByte(0x1234, 0x1A, 7), "ok");
        QCOMPARE(noError.count(), 0);
    }

    // An answer that missed its time-out must not pass for the next request's: nothing in
    // an answer says which register it holds.
    void lateAnswerIsNotTheNextRegister_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::newRow("within the time-out") << 40;
        QTest::newRow("past the time-out") << 170;
    }
    void lateAnswerIsNotTheNextRegister()
    {
        QFETCH(int, latencyMs);
        sim::LineConfig line;
        line.answerLatencyUs = latencyMs * 1000;
        LoggerLink l(false, "[COM_TIMEOUT]\nBASE=150\n", line);   // a one-block read waits 112 ms
        int failed = 0;
        bool second = true;   // a transaction started from the event loop while one waits would take its answer
        QTimer::singleShot(0, &l.port, [&] { second = l.port.readBlocks(0, 2, 1); });
        for (quint32 reg : {0x01000000u, 0x0100001Au, 0x01000030u, 0x01000020u, 0x01000000u}) {
            const bool ok = l.port.readBlocksRetry(0, reg, 1, 2);
            const QByteArray got(reinterpret_cast<const char *>(l.port.replyData()), 8);
            const QByteArray want = l.logger->read<QByteArray>([reg](sim::SimulatedLogger &s) {
                return QByteArray(reinterpret_cast<const char *>(s.configRegisters().data()) + (reg & 0xFF), 8); });
            failed += !ok;
            QVERIFY2(!ok || got == want, qPrintable(QString::number(reg, 16) + ": " + got.toHex(' ')));
        }
        QCOMPARE(failed > 0, latencyMs > 112);
        QVERIFY(!second);
    }

    // The bursts go out back to back: the logger sees them, with the next preamble, as one run.
    void wakeUp()
    {
        LoggerLink l;
        l.logger->withLogger([](sim::SimulatedLogger &s) { s.setSleeping(true); });
        QVERIFY(l.port.wakeUpDevice());
        QCOMPARE(l.logger->read<QList<int>>([](sim::SimulatedLogger &s) { return s.ffRuns(); }), QList<int>({3, 2385 + 3}));
    }
};

QTEST_GUILESS_MAIN(TransactionTest)
#include "tst_transactions.moc"
