// Faults on the line, a few operations each: whatever the program reports as done must be
// exactly done, and whatever it did not do it must say.

#include "downloaddriver.h"
#include "faultsuite.h"
#include "manageserialport.h"

#include <QTest>

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void reportedOutcomeIsTheTruth_data();
    void reportedOutcomeIsTheTruth();
    void lateAnswerIsNotTheNextRegister_data();
    void lateAnswerIsNotTheNextRegister();
    void cleanupTestCase();

private:
    QList<FaultRow> rows;
};

void tst_Faults::reportedOutcomeIsTheTruth_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("downloads");
    QTest::addColumn<int>("starts");
    const QList<FaultKind> kinds = lineFaults();
    for (int i = 0; i < kinds.size(); ++i) {
        QTest::newRow(qPrintable(kinds[i].name)) << i << 1 << 2;
    }
}

void tst_Faults::reportedOutcomeIsTheTruth()
{
    QFETCH(int, kind);
    QFETCH(int, downloads);
    QFETCH(int, starts);
    FaultRun run;
    run.downloads = downloads;
    run.starts = starts;
    // 4-byte and 2-byte records; the start types include a counter to clear.
    run.downloadTypes = {3, 2};
    run.startTypes = {2, 3};
    run.usedBytes = 12288;
    run.patience = 20;
    run.seed = quint32(100 * (kind + 2));
    run.operationTimeoutMs = 60000;
    const FaultKind fault = lineFaults()[kind];
    const FaultRow row = runFault(fault, run);
    rows << row;
    for (const QString &line : row.details())
        qInfo().noquote() << line;

    const QStringList violations = row.violations();
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QLatin1Char('\n'))));
    QVERIFY2(row.downloadsCompleted() > 0, "no download completed");
    QVERIFY2(row.startsCompleted() > 0, "no start completed");
}

void tst_Faults::lateAnswerIsNotTheNextRegister_data()
{
    // A one-block read waits 112 ms at base 150.
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<bool>("inTime");
    QTest::addColumn<bool>("stillTaken");
    QTest::newRow("within the time-out") << 40 << true << false;
    QTest::newRow("past the time-out") << 170 << false << false;
    QTest::newRow("past twice the time-out") << 280 << false << true;
    QTest::newRow("past four times the time-out") << 500 << false << true;
}

void tst_Faults::lateAnswerIsNotTheNextRegister()
{
    QFETCH(int, latencyMs);
    QFETCH(bool, inTime);
    QFETCH(bool, stillTaken);
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
    QStringList wrong;
    int failed = 0;
    for (quint32 reg : {0x01000000u, 0x0100001Au, 0x01000030u, 0x01000020u, 0x01000040u, 0x01000000u}) {
        const bool ok = port.readBlocksRetry(config.address, reg, 1, 2);
        const QByteArray got(reinterpret_cast<const char *>(port.replyData()), 8);
        const QByteArray want = logger->read<QByteArray>([reg](sim::SimulatedLogger &l) {
            return QByteArray(reinterpret_cast<const char *>(l.configRegisters().data()) + (reg & 0xFF), 8);
        });
        failed += !ok;
        if (ok && got != want)
            wrong << QStringLiteral("%1: got %2, want %3").arg(reg, 8, 16, QLatin1Char('0'))
                         .arg(QString::fromLatin1(got.toHex(' ')), QString::fromLatin1(want.toHex(' ')));
    }
    for (const QString &w : wrong)
        qInfo().noquote() << w;
    if (inTime)
        QCOMPARE(failed, 0);
    if (stillTaken)
        QEXPECT_FAIL("", "the line is watched for one quiet time-out only: a later answer is still taken", Abort);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void tst_Faults::cleanupTestCase()
{
    if (!rows.isEmpty())
        for (const QString &line : faultTable(rows))
            qInfo().noquote() << line;
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
