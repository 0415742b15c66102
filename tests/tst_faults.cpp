// Faults on the line: a download under each kind of fault, answered as a patient user
// would, still brings the exact file; a late answer is never taken for the next one's.

#include "downloaddriver.h"
#include "manageserialport.h"

#include <QTest>

Q_DECLARE_METATYPE(sim::FaultConfig)

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void downloadRecovers_data()
    {
        QTest::addColumn<sim::FaultConfig>("faults");
        QTest::addColumn<int>("event");   // once the read-out starts: 1 falls asleep, 2 unplugged and back
        sim::FaultConfig f;
        const auto row = [](const char *name, const sim::FaultConfig &faults, int event = 0) {
            QTest::newRow(name) << faults << event;
        };
        f.corruptByteRate = 0.002;
        row("corrupted bytes", f);
        f = {};
        f.dropAnswerRate = 0.04;
        row("dropped answers", f);
        f = {};
        f.noiseRate = 0.3;
        row("noise before answers", f);
        f = {};
        f.splitChunk = 8;
        f.chunkGapUs = 2000;
        row("answers in chunks", f);
        f = {};
        f.wrongBlockRate = 0.2;
        row("wrong block count", f);
        row("falls asleep", {}, 1);
        row("unplugged, back", {}, 2);
    }
    void downloadRecovers()
    {
        QFETCH(sim::FaultConfig, faults);
        QFETCH(int, event);
        LoggerWindow w(frozenLogger(3, 12288));
        QVERIFY(w.waitForRefresh());
        const QString path = w.dir.filePath("campaign.tsv");
        SaveDialogAnswer save(path);
        auto outcome = answerOutcome();
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
        QVERIFY(download(w, *outcome));
        w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults() = {}; });
        QCOMPARE(outcome->seenText(), QStringLiteral("Read Data|<font color=green>Download Complete</font>"));
        QCOMPARE(readFile(path), expectedExport(*w.logger, "Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"));
        QVERIFY(blockReads(*w.logger) > 24 || faults.splitChunk);   // the fault was met
    }

    void lateAnswerIsNotTheNextRegister_data()
    {
        // A one-block read waits 112 ms at base 150.
        QTest::addColumn<int>("latencyMs");
        QTest::newRow("within the time-out") << 40;
        QTest::newRow("past the time-out") << 170;
    }
    void lateAnswerIsNotTheNextRegister()
    {
        QFETCH(int, latencyMs);
        // The status registers in turn, as a refresh reads them: each read must fail or bring
        // that register's own bytes, since an answer does not say which register it holds.
        ScratchDirectory dir;
        dir.writeConfig("[COM_TIMEOUT]\nBASE=150\n");
        const sim::LoggerConfig config = frozenLogger(2, 600);
        sim::LineConfig line;
        line.answerLatencyUs = latencyMs * 1000;
        auto logger = startLogger(dir.path(), config, sim::FaultConfig(), line);
        ManageSerialPort port;
        QVERIFY(port.openPort(logger->linkPath()));
        int failed = 0;
        for (quint32 reg : {0x01000000u, 0x0100001Au, 0x01000030u, 0x01000020u, 0x01000000u}) {
            const bool ok = port.readBlocksRetry(config.address, reg, 1, 2);
            const QByteArray got(reinterpret_cast<const char *>(port.replyData()), 8);
            const QByteArray want = logger->read<QByteArray>([reg](sim::SimulatedLogger &l) {
                return QByteArray(reinterpret_cast<const char *>(l.configRegisters().data()) + (reg & 0xFF), 8);
            });
            failed += !ok;
            QVERIFY2(!ok || got == want, qPrintable(QString::number(reg, 16) + ": " + got.toHex(' ')));
        }
        QCOMPARE(failed > 0, latencyMs > 112);
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
