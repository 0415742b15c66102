// Bad input from the logger, the line, the settings and the disk: the window keeps working,
// shows nothing it cannot know, says what is wrong, and never loses a file it did not mean to replace.

#include "downloaddriver.h"

#include <QTest>

namespace {

using Labels = QStringList;   // "name=text"
const QString complete = QStringLiteral("Read Data|<font color=green>Download Complete</font>");

sim::LoggerConfig baseLogger(int type, quint32 usedBytes = 1200, int memoryCode = 2, int periodCode = 7)
{
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52, 0), Qt::UTC);
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    return config;
}

QByteArray headerFor(const QByteArray &names, const QByteArray &units)
{
    return "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
}
const QByteArray hygroHeader = headerFor("Vantorel Temp\tHumidity", "\xB0" "C\t%RH");

bool refreshNow(LoggerWindow &w)
{
    w.refreshTimer()->start(0);   // rather than in up to a second; the slot sets the interval back
    return w.waitForRefreshes(1) && w.comStatus().contains("COM OK");
}

// After a refresh, presses "Read Data", saves to `path` and gives the outcome box's text.
QString downloadTo(LoggerWindow &w, const QString &path)
{
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    return refreshNow(w) && download(w, *outcome) ? outcome->seenText() : QStringLiteral("no outcome");
}

} // namespace

Q_DECLARE_METATYPE(sim::LoggerConfig)
Q_DECLARE_METATYPE(sim::FaultConfig)

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    // Registers holding extremes and garbage.
    void loggerExtremes_data()
    {
        QTest::addColumn<sim::LoggerConfig>("config");
        QTest::addColumn<QByteArray>("startBytes");   // not empty: written over the start registers
        QTest::addColumn<Labels>("expected");
        QTest::addColumn<QByteArray>("header");
        const QByteArray temp = headerFor("Vantorel Temp", "\xB0" "C");
        // Unknown types leave the type and live labels as they were: empty in a new window.
        QTest::newRow("type 255") << baseLogger(255) << QByteArray() << Labels{"type=", "real_txt=", "data_lab=600"}
                                  << headerFor("Unknown data type", "?");
        QTest::newRow("period 14") << baseLogger(1, 1200, 2, 14) << QByteArray() << Labels{"period_lab=-", "time_lab=-"} << temp;
        QTest::newRow("memory 4, wrapped") << baseLogger(1, 0x40012, 4) << QByteArray() << Labels{"free_mem_lab=0%"} << temp;
        QTest::newRow("memory 7, wrapped") << baseLogger(1, 0x20010, 7) << QByteArray() << Labels{"data_lab=65544"} << temp;
        QTest::newRow("used odd") << baseLogger(1, 1201) << QByteArray() << Labels{"data_lab=600"} << temp;
        QTest::newRow("start no BCD") << baseLogger(1) << QByteArray("\x14\x11\x1A\x16\x52\x00", 6)
                                      << Labels{"start_label=-", "time_lab=-"} << temp;
    }
    void loggerExtremes()
    {
        QFETCH(sim::LoggerConfig, config);
        QFETCH(QByteArray, startBytes);
        QFETCH(Labels, expected);
        QFETCH(QByteArray, header);
        LoggerWindow w(config);
        if (!startBytes.isEmpty())
            w.logger->withLogger([&](sim::SimulatedLogger &l) { l.setLiveValue(0x01000030, startBytes); });
        QVERIFY(refreshNow(w));
        for (const QString &entry : expected)
            QCOMPARE(entry.section('=', 0, 0) + '=' + w.text(entry.section('=', 0, 0).toLatin1()), entry);
        const QString path = w.dir.filePath("campaign.tsv");
        QCOMPARE(downloadTo(w, path), complete);
        QCOMPARE(readFile(path), expectedExport(*w.logger, header));
        QVERIFY(refreshNow(w));   // still polling
    }

    // Faults on the line, met by a patient user (OK to every retry box): the exact file still.
    void downloadRecovers_data()
    {
        QTest::addColumn<sim::FaultConfig>("faults");
        QTest::addColumn<int>("event");   // once the read-out starts: 1 falls asleep, 2 unplugged and back
        using F = sim::FaultConfig;
        const auto row = [](const char *name, const std::function<void(F &)> &set, int event = 0) {
            F faults;
            QTest::newRow(name) << (set(faults), faults) << event;
        };
        row("corrupted bytes", [](F &f) { f.corruptByteRate = 0.002; });
        row("dropped answers", [](F &f) { f.dropAnswerRate = 0.04; });
        row("noise before answers", [](F &f) { f.noiseRate = 0.3; });
        row("answers in chunks", [](F &f) { f.splitChunk = 8; f.chunkGapUs = 2000; });
        row("wrong block count", [](F &f) { f.wrongBlockRate = 0.2; });
        row("falls asleep", [](F &) {}, 1);
        row("unplugged, back", [](F &) {}, 2);
    }
    void downloadRecovers()
    {
        QFETCH(sim::FaultConfig, faults);
        QFETCH(int, event);
        LoggerWindow w(frozenLogger(3, 12288));
        auto retries = answerErrorCom(*w.logger);
        // Switched on once the read-out starts, so that only it meets the fault.
        ModalAnswerer arm(progressDialog(), [&](QWidget *) {
            w.logger->withLogger([&](sim::SimulatedLogger &l) {
                l.faults() = faults;
                l.setSleeping(event == 1);
                if (event == 2) {
                    l.faults().unplugAfterRequests = int(l.requests().size()) + 7;
                    l.faults().replugAfterMs = 1200;
                }
            });
        });
        const QString path = w.dir.filePath("campaign.tsv");
        QCOMPARE(downloadTo(w, path), complete);
        w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults() = {}; });
        QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
        QVERIFY(blockReads(*w.logger) > 24 || faults.splitChunk);   // the fault was met
    }

    // The end of the file refused (9 KiB of lines, still buffered when the last write is done):
    // the file and the system's reason, never "Download Complete", and nothing replaced.
    void unwritableTarget_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("full disk, earlier file kept") << "tmp/campaign.tsv";
        QTest::newRow("device refusing writes") << "full";
    }
    void unwritableTarget()
    {
        QFETCH(QString, target);
        LoggerWindow w(frozenLogger(3, 1200));
        RefusingPlaces places(w.dir.path(), "campaign.tsv");
        QVERIFY(places.ready);
        const QString outcome = downloadTo(w, w.dir.filePath(target));
        QVERIFY2(outcome.contains(w.dir.filePath(target) + ": No space left on device"), qPrintable(outcome));
        QVERIFY(places.untouched());
    }
};

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
