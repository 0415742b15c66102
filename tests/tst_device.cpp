// The logger operations against the simulated logger on a pty, with no window at all:
// what they read, what they send, and how they ask their caller.

#include "downloaddriver.h"

#include "clock.h"
#include "exportfile.h"
#include "loggerdevice.h"
#include "manageserialport.h"
#include "registers.h"

#include <QBuffer>
#include <QTest>

namespace {
struct Attached {
    ScratchDirectory dir;
    std::unique_ptr<sim::PtyLogger> logger;
    ManageSerialPort port;
    explicit Attached(const sim::LoggerConfig &config)
        : logger(startLogger(dir.path(), config))
    {
        port.setTimeoutBase(150);   // the requests counted must not be retries of late answers
        port.openPort(logger->linkPath());
    }
    QList<sim::LoggedRequest> requests()
    {
        return logger->read<QList<sim::LoggedRequest>>([](sim::SimulatedLogger &l) { return l.requests(); });
    }
    void setFaults(const std::function<void(sim::FaultConfig &)> &f)
    {
        logger->withLogger([&](sim::SimulatedLogger &l) { f(l.faults()); });
    }
};

} // namespace

class tst_Device : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void status_data();
    void status();
    void liveReads_data();
    void liveReads();
    void readOut_data();
    void readOut();
    void lostAnswers_data();
    void lostAnswers();
    void failedBlock();
    void exportWrite_data();
    void exportWrite();
    void newCampaign_data();
    void newCampaign();
};

void tst_Device::status_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("temp/hygro, 256 KiB") << 3;
    QTest::newRow("temperature: told after its reading") << 1;
}

void tst_Device::status()
{
    QFETCH(int, type);
    sim::LoggerConfig config;
    config.address = 0xABCDEF01;
    config.deviceType = quint8(type);
    config.version = 9;
    config.memorySizeCode = 4;
    config.periodCode = 10;
    config.usedBytes = 70000;
    config.calibrationA = 0xFFF0;
    config.calibrationB = 0x1234;
    config.batteryCode = 3;
    config.timeScale = 0;
    Attached a(config);
    const quint16 seconds = a.logger->read<quint16>([](sim::SimulatedLogger &l) { return l.secondsInPeriod(); });

    LoggerStatus s;
    QVERIFY(Device::readStatus(a.port, s).complete);
    QCOMPARE(s.address, 0xABCDEF01u);
    QCOMPARE(int(s.deviceType), type);
    QCOMPARE(int(s.version), 9);
    QCOMPARE(int(s.memorySizeCode), 4);
    QCOMPARE(int(s.periodCode), 10);
    QCOMPARE(s.startTime, config.startTime);
    QCOMPARE(s.calibrationASigned(), qint16(-16));
    QCOMPARE(int(s.calibrationB), 0x1234);
    QCOMPARE(s.usedBytes, 70000u);
    QCOMPARE(s.secondsInPeriod, seconds);

    const Device::LiveOutcome live = Device::readLive(a.port, s);
    QVERIFY(live.batteryRead && live.knownType && live.answers.r40.ok);
    QCOMPARE(int(s.batteryCode), 3);
    QCOMPARE(s.memoryTop, 0x3FFFFu);
    QCOMPARE(int(s.recordSize), type == 3 ? 4 : 2);
    const sim::LoggedRequest last = a.requests().last();
    const bool told = last.function == 7 && last.registerAddress == 0x44 && last.argument == 1;
    QCOMPARE(told, type == 1);
}

void tst_Device::liveReads_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("requests");   // after the battery: register/blocks read, register=byte written
    const QStringList sent = {"", "40/1 44=1", "44/1", "40/1 52/1", "44/1 53/1", "40/1", "52/1 40/1", "44/1 53/1",
                              "40/2 52/1", "44/1 53/1", "52/1 40/1", ""};
    for (int type = 1; type <= 11; ++type)
        QTest::addRow("type %d", type) << type << sent[type];
}

// Each type's live registers, in the order the logger has always been asked.
void tst_Device::liveReads()
{
    QFETCH(int, type);
    sim::LoggerConfig config;
    config.deviceType = quint8(type);
    config.timeScale = 0;
    Attached a(config);
    LoggerStatus s;
    QVERIFY(Device::readStatus(a.port, s).complete);
    const qsizetype battery = a.requests().size();
    Device::readLive(a.port, s);
    QStringList sent;
    for (const sim::LoggedRequest &r : a.requests().mid(battery + 1))
        sent << QString::fromLatin1(r.function == 7 ? "%1=%2" : "%1/%2").arg(r.registerAddress, 0, 16).arg(r.argument);
    QTEST(sent.join(QLatin1Char(' ')), "requests");
}

void tst_Device::readOut_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("memoryCode");
    QTest::addColumn<quint32>("usedBytes");
    QTest::addColumn<int>("reads");
    QTest::newRow("wrapped 128 KiB, 2-byte records") << 2 << 2 << quint32(0x20010) << 2048;
    QTest::newRow("256 KiB, 4-byte records") << 3 << 4 << quint32(0x20010) << 2049;
    QTest::newRow("part of a block") << 1 << 2 << quint32(100) << 2;
    QTest::newRow("empty") << 1 << 2 << quint32(0) << 0;
}

void tst_Device::readOut()
{
    QFETCH(int, type);
    QFETCH(int, memoryCode);
    QFETCH(quint32, usedBytes);
    QFETCH(int, reads);
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.memorySizeCode = quint8(memoryCode);
    Attached a(config);
    LoggerStatus s;
    QVERIFY(Device::readStatus(a.port, s).complete);
    s.recordSize = 2;  // an older display's value must not decide the columns

    QList<quint32> progress;
    Device::DownloadCallbacks callbacks;
    callbacks.progress = [&](quint32 done, quint32 total) { progress.append(done * 100 / total); };
    Device::RecordMemory memory;
    QCOMPARE(Device::readRecordMemory(a.port, s, memory, callbacks), Device::DownloadResult::Complete);
    QCOMPARE(blockReads(*a.logger), reads);
    QCOMPARE(int(progress.size()), reads);

    const std::vector<quint8> simMemory = a.logger->read<std::vector<quint8>>([](sim::SimulatedLogger &l) { return l.memory(); });
    const quint32 compared = qMin<quint32>(usedBytes, quint32(simMemory.size()));
    QVERIFY(std::equal(simMemory.begin(), simMemory.begin() + compared, memory.image.begin()));

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(Device::writeExport(out, s, memory, {}, &error));
    QCOMPARE(out.data(), expectedExport(*a.logger, exportHeader(s.address, s.deviceType)));
}

void tst_Device::lostAnswers_data()
{
    QTest::addColumn<quint32>("reg");        // whose answers are lost
    QTest::addColumn<int>("lost");           // that many times; -1: every time
    QTest::addColumn<int>("asked");          // requests of that register
    QTest::addColumn<QString>("succeeded");  // identified, status complete, battery, live value, download
    const quint32 block = Register::recordMemory + 128;
    QTest::newRow("identity probe, one lost") << Register::identityProbe << 1 << 2 << "11111";
    QTest::newRow("identity probe, all lost") << Register::identityProbe << -1 << 2 << "00000";
    QTest::newRow("used bytes, one lost") << Register::usedBytes << 1 << 2 << "11111";
    QTest::newRow("used bytes, all lost") << Register::usedBytes << -1 << 2 << "10000";
    QTest::newRow("battery, one lost") << Register::battery << 1 << 2 << "11111";
    QTest::newRow("battery, all lost: the rest is read") << Register::battery << -1 << 2 << "11011";
    QTest::newRow("live value, one lost") << Register::liveValue << 1 << 2 << "11111";
    QTest::newRow("live value, all lost: not acknowledged") << Register::liveValue << -1 << 2 << "11100";
    QTest::newRow("record block, one lost") << block << 1 << 2 << "11111";
    QTest::newRow("record block, all lost") << block << -1 << 5 << "11110";
}

// Every read survives one lost answer; when all its attempts are lost it fails, and what
// depends on it is not asked of the logger.
void tst_Device::lostAnswers()
{
    QFETCH(quint32, reg);
    QFETCH(int, lost);
    Attached a(frozenLogger(1, 640));
    LoggerStatus expected, s;
    QVERIFY(Device::readStatus(a.port, expected).complete);
    const Device::LiveOutcome reference = Device::readLive(a.port, expected);
    a.logger->withLogger([&](sim::SimulatedLogger &l) { l.clearRequests(), l.faults().unansweredReadsOf = reg, l.faults().unansweredReadCount = lost; });
    const Device::StatusOutcome status = Device::readStatus(a.port, s);
    const Device::LiveOutcome live = status.complete ? Device::readLive(a.port, s) : Device::LiveOutcome();
    int retryAsked = 0;
    Device::DownloadCallbacks callbacks;
    callbacks.retryFailedBlock = [&] { return ++retryAsked, false; };
    Device::RecordMemory memory;
    const bool downloaded = live.answers.r40.ok
        && Device::readRecordMemory(a.port, s, memory, callbacks) == Device::DownloadResult::Complete;
    QString succeeded;
    for (bool ok : {status.identified, status.complete, live.batteryRead, live.answers.r40.ok, downloaded})
        succeeded += ok ? '1' : '0';
    QTEST(succeeded, "succeeded");
    const QList<sim::LoggedRequest> sent = a.requests();
    QTEST(int(std::count_if(sent.begin(), sent.end(), [&](const sim::LoggedRequest &r) { return r.function == 8 && r.registerAddress == reg; })), "asked");
    QCOMPARE(retryAsked, int(reg == Register::recordMemory + 128 && lost < 0));
    if (lost < 0 && reg != Register::battery)
        QCOMPARE(sent.last().registerAddress, reg);
    if (lost < 0)
        return;
    QCOMPARE(std::make_tuple(s.address, s.usedBytes, s.startTime, int(s.batteryCode)),
             std::make_tuple(expected.address, expected.usedBytes, expected.startTime, int(expected.batteryCode)));
    QCOMPARE(liveReadingText(s, live.answers, {}), liveReadingText(expected, reference.answers, {}));
    const std::vector<quint8> simMemory = a.logger->read<std::vector<quint8>>([](sim::SimulatedLogger &l) { return l.memory(); });
    QVERIFY(std::equal(simMemory.begin(), simMemory.begin() + 640, memory.image.begin()));
}

// A block that keeps failing is retried, after a wake-up, when the caller says so.
void tst_Device::failedBlock()
{
    Attached a(frozenLogger(1, 640));
    LoggerStatus s;
    QVERIFY(Device::readStatus(a.port, s).complete);
    int asked = 0;
    int wakeUpsBefore = 0;
    Device::DownloadCallbacks callbacks;
    callbacks.progress = [&](quint32 done, quint32) {
        if (done == 192)
            a.setFaults([](sim::FaultConfig &f) { f.silent = true; });
    };
    callbacks.retryFailedBlock = [&] {
        ++asked;
        wakeUpsBefore = a.logger->read<int>([](sim::SimulatedLogger &l) { return int(l.ffRuns().size()); });
        a.setFaults([](sim::FaultConfig &f) { f.silent = false; });
        return true;
    };
    Device::RecordMemory memory;
    QCOMPARE(Device::readRecordMemory(a.port, s, memory, callbacks), Device::DownloadResult::Complete);
    QCOMPARE(asked, 1);
    QCOMPARE(blockReads(*a.logger), 8 + 7);  // five attempts at the fourth block, then the rest
    QVERIFY(a.logger->read<int>([](sim::SimulatedLogger &l) { return int(l.ffRuns().size()); }) > wakeUpsBefore);

    // Cancelled after the second block: nothing more is asked of the logger.
    int polled = 0;
    callbacks = {};
    callbacks.cancelled = [&] { return ++polled == 2; };
    const int reads = blockReads(*a.logger);
    QCOMPARE(Device::readRecordMemory(a.port, s, memory, callbacks), Device::DownloadResult::Cancelled);
    QCOMPARE(blockReads(*a.logger) - reads, 2);
}

void tst_Device::exportWrite_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("to the end") << false;
    QTest::newRow("stopped between slices") << true;
}

void tst_Device::exportWrite()
{
    QFETCH(bool, stop);
    LoggerStatus s;
    s.address = 0x12345;
    s.deviceType = 1;
    s.periodCode = 0;
    s.usedBytes = 0x30000;
    s.memorySizeCode = 4;
    Device::RecordMemory memory;
    memory.params = recordPassParams(s);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error = "stale";
    int asked = 0;
    QCOMPARE(Device::writeExport(out, s, memory, [&] { return ++asked, !stop; }, &error), !stop);
    QCOMPARE(error, QString());
    QCOMPARE(asked, 1);  // 98304 lines: two slices
    QCOMPARE(out.data().count('\n'), stop ? 4 + 65536 : 4 + 98304);
}

void tst_Device::newCampaign_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("failingRegister");
    QTest::addColumn<bool>("unanswered");  // else the write is answered but not stored
    QTest::newRow("pulses") << 2 << qint64(-1) << false;
    QTest::newRow("temperature: no counter to clear") << 1 << qint64(-1) << false;
    QTest::newRow("lamp, counter refused") << 8 << qint64(0x49) << true;
    QTest::newRow("period does not take") << 2 << qint64(0x0100001A) << false;
    QTest::newRow("period taken, not acknowledged") << 2 << qint64(0x0100001A) << true;
}

void tst_Device::newCampaign()
{
    QFETCH(int, type);
    QFETCH(qint64, failingRegister);
    QFETCH(bool, unanswered);
    sim::LoggerConfig config = frozenLogger(type, 800);
    Attached a(config);
    LoggerStatus s;
    QVERIFY(Device::readStatus(a.port, s).complete);
    Clock::setSource([] { return QDateTime(QDate(2026, 11, 26), QTime(14, 7, 43), Qt::UTC); });
    a.logger->withLogger([&](sim::SimulatedLogger &l) {
        l.clearRequests();
        l.faults().ignoreWritesTo = unanswered ? -1 : failingRegister;
        l.faults().unansweredWritesTo = unanswered ? failingRegister : -1;
    });

    QCOMPARE(Device::programNewCampaign(a.port, s, 13), failingRegister < 0);
    QStringList sent;
    for (const sim::LoggedRequest &r : a.requests())
        sent << QString("%1 %2 %3").arg(r.function == 7 ? "w" : "r").arg(r.registerAddress, 0, 16).arg(r.argument, 0, 16);
    // 14:07:43 at 5 min: the start is 14:05:00 and the logger is 163 s into its period.
    QStringList expected = {"w 100001a d", "r 100001a 1", "w 1000020 0", "w 1000021 0", "w 1000022 0",
                            "w 48 0", "w 49 0", "w 4a 0", "w 4b 0",
                            "w 1000033 14", "w 1000034 5", "w 1000035 0", "w 1000030 26", "w 1000031 11",
                            "w 1000032 26", "w 42 a3", "w 43 0"};
    if (type == 1)
        expected = expected.mid(0, 5) + expected.mid(9);
    if (failingRegister == 0x0100001A)
        expected = expected.mid(0, 2);
    else if (failingRegister == 0x49)
        expected = expected.mid(0, 7);
    QCOMPARE(sent, expected);
}

QTEST_GUILESS_MAIN(tst_Device)
#include "tst_device.moc"
