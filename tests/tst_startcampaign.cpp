// "Start a new campaign" against the simulated logger: the exact requests, the period
// list, the memory-full date, and the failures that must not pass for success.

#include "windowfixture.h"

#include "clock.h"
#include "mainwindow.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Request {
    int function;
    quint32 reg;
    int value;
    bool operator==(const Request &o) const { return function == o.function && reg == o.reg && value == o.value; }
};

char *toString(const Request &r)
{
    return qstrdup(qPrintable(QString("%1 %2 %3").arg(r.function == 7 ? "write" : "read").arg(r.reg, 0, 16).arg(r.value)));
}

QList<Request> writesAndPeriodReads(sim::PtyLogger &logger, int from)
{
    return logger.read<QList<Request>>([from](sim::SimulatedLogger &l) {
        QList<Request> out;
        for (int i = from; i < l.requests().size(); ++i) {
            const sim::LoggedRequest &r = l.requests()[i];
            if (r.function == 7 || r.registerAddress == 0x0100001A)
                out.append({r.function, r.registerAddress, r.function == 7 ? int(r.argument) : 0});
        }
        return out;
    });
}

int requestCount(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
}

const QDateTime pressedAt(QDate(2026, 11, 26), QTime(14, 7, 43), Qt::UTC);

// Opens the new-campaign dialog as the user does, once the window shows the logger.
QWidget *openStartDialog(LoggerWindow &w)
{
    if (!w.waitForRefresh())
        return nullptr;
    QTest::mouseClick(w.window->findChild<QPushButton *>("startButton"), Qt::LeftButton);
    QWidget *dialog = w.dialog("start");
    return waitFor([&] { return dialog && dialog->isVisible(); }) ? dialog : nullptr;
}

QComboBox *periodCombo(QWidget *dialog)
{
    return dialog->findChild<QComboBox *>("period_combo");
}

sim::LoggerConfig frozen(int type, int periodCode = 7)
{
    sim::LoggerConfig config;
    config.deviceType = quint8(type);
    config.periodCode = quint8(periodCode);
    config.usedBytes = 800;
    config.timeScale = 0;
    return config;
}

} // namespace

class tst_StartCampaign : public QObject
{
    Q_OBJECT

private slots:
    void init() { Clock::setSource([] { return pressedAt; }); }
    void cleanup() { Clock::setSource({}); }
    void exactRequests_data();
    void exactRequests();
    void periodListFollowsTheLogger_data();
    void periodListFollowsTheLogger();
    void memoryFullDate_data();
    void memoryFullDate();
    void failuresAskToRetry_data();
    void failuresAskToRetry();
    void retryRunsTheWholeSequenceAgain();
    void cancelInRetryBoxClosesOnce();
    void escapeResumesPolling();
};

void tst_StartCampaign::exactRequests_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("clearsCounter");
    QTest::newRow("temperature") << 1 << false;
    QTest::newRow("pulses") << 2 << true;
    QTest::newRow("temp/hygro") << 3 << false;
    QTest::newRow("lamp") << 8 << true;
}

void tst_StartCampaign::exactRequests()
{
    QFETCH(int, type);
    QFETCH(bool, clearsCounter);
    LoggerWindow w(frozen(type));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    periodCombo(dialog)->setCurrentIndex(periodCombo(dialog)->findText("5min"));

    QSignalSpy closed(dialog, SIGNAL(closed()));
    const int before = requestCount(*w.logger);
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return !dialog->isVisible(); }));
    QCOMPARE(closed.count(), 1);

    QList<Request> expected = {{7, 0x0100001A, 13}, {8, 0x0100001A, 0},
                               {7, 0x01000020, 0}, {7, 0x01000021, 0}, {7, 0x01000022, 0}};
    if (clearsCounter)
        expected += {{7, 0x48, 0}, {7, 0x49, 0}, {7, 0x4A, 0}, {7, 0x4B, 0}};
    // 14:07:43 at 5 min: the start is 14:05:00 and the logger is 163 s into its period.
    expected += {{7, 0x01000033, 0x14}, {7, 0x01000034, 0x05}, {7, 0x01000035, 0x00},
                 {7, 0x01000030, 0x26}, {7, 0x01000031, 0x11}, {7, 0x01000032, 0x26},
                 {7, 0x42, 0xA3}, {7, 0x43, 0x00}};
    QCOMPARE(writesAndPeriodReads(*w.logger, before), expected);

    // The next refresh shows the new campaign.
    QVERIFY(waitFor([&] { return w.central()->isEnabled() && w.refreshTimer()->isActive(); }));
    QVERIFY(w.waitForRefreshes(1));
    QCOMPARE(w.text("period_lab"), QString("5 min"));
    QCOMPARE(w.text("data_lab"), QString("0"));
    QCOMPARE(w.text("start_label"), QString("26/11/26 14:05:00"));
    QCOMPARE(w.text("time_lab"), QString("26/11/26 14:07:43"));
}

void tst_StartCampaign::periodListFollowsTheLogger_data()
{
    QTest::addColumn<int>("loggerCode");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("choose");
    QTest::addColumn<int>("written");
    QTest::newRow("10 min is code 8") << 8 << 12 << "10min" << "1h" << 9;
    QTest::newRow("2 min is code 10") << 10 << 8 << "2min" << "4min" << 12;
    QTest::newRow("1 h is code 9") << 9 << 13 << "1h" << "10min" << 8;
    QTest::newRow("1 min is code 7") << 7 << 7 << "1min" << "3min" << 11;
}

void tst_StartCampaign::periodListFollowsTheLogger()
{
    QFETCH(int, loggerCode);
    QFETCH(int, index);
    QFETCH(QString, item);
    QFETCH(QString, choose);
    QFETCH(int, written);
    LoggerWindow w(frozen(1, loggerCode));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    QCOMPARE(periodCombo(dialog)->currentIndex(), index);
    QCOMPARE(periodCombo(dialog)->currentText(), item);

    periodCombo(dialog)->setCurrentIndex(periodCombo(dialog)->findText(choose));
    const int before = requestCount(*w.logger);
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return !dialog->isVisible(); }));
    QCOMPARE(writesAndPeriodReads(*w.logger, before).value(0), (Request{7, 0x0100001A, written}));
}

void tst_StartCampaign::memoryFullDate_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("memoryCode");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QDateTime>("full");
    const QDateTime morning(QDate(2026, 11, 26), QTime(10, 20, 30), Qt::UTC);
    // 65535 two-byte records in 128 KiB (the top address divided by the record size).
    QTest::newRow("1 s") << morning << 2 << 1 << "1s" << morning.addSecs(65535);
    QTest::newRow("1 h, aligned") << morning << 2 << 1 << "1h"
                                  << QDateTime(QDate(2026, 11, 26), QTime(10, 0, 0), Qt::UTC).addSecs(65535LL * 3600);
    QTest::newRow("4-byte records") << morning << 2 << 3 << "1s" << morning.addSecs(32767);
    QTest::newRow("256 KiB, 1 min") << morning << 4 << 1 << "1min" << morning.addSecs(131071LL * 60 - 30);
}

void tst_StartCampaign::memoryFullDate()
{
    QFETCH(QDateTime, now);
    QFETCH(int, memoryCode);
    QFETCH(int, type);
    QFETCH(QString, period);
    QFETCH(QDateTime, full);
    Clock::setSource([now] { return now; });
    sim::LoggerConfig config = frozen(type);
    config.memorySizeCode = quint8(memoryCode);
    LoggerWindow w(config);
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    periodCombo(dialog)->setCurrentIndex(periodCombo(dialog)->findText(period));
    QCOMPARE(dialog->findChild<QLabel *>("date_lab")->text(), full.toString("dd/MM/yy hh:mm"));
}

void tst_StartCampaign::failuresAskToRetry_data()
{
    QTest::addColumn<bool>("periodNotStored");
    QTest::addColumn<bool>("firstWriteUnanswered");
    QTest::newRow("read-back differs") << true << false;
    QTest::newRow("write not acknowledged, read-back matches") << false << true;
}

void tst_StartCampaign::failuresAskToRetry()
{
    QFETCH(bool, periodNotStored);
    QFETCH(bool, firstWriteUnanswered);
    LoggerWindow w(frozen(1));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        if (periodNotStored)
            l.faults().ignoreWritesTo = 0x0100001A;
        if (firstWriteUnanswered)
            l.faults().unansweredWritesTo = 0x0100001A;
    });
    periodCombo(dialog)->setCurrentIndex(periodCombo(dialog)->findText("5min"));
    const int before = requestCount(*w.logger);
    QSignalSpy closed(dialog, SIGNAL(closed()));
    ModalAnswerer retry(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel));
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return retry.done() && !dialog->isVisible(); }));
    QCOMPARE(closed.count(), 1);

    // Nothing is erased and no start is written after a period that did not take.
    const QList<Request> sent = writesAndPeriodReads(*w.logger, before);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0], (Request{7, 0x0100001A, 13}));
    QCOMPARE(sent[1].function, 8);
}

void tst_StartCampaign::retryRunsTheWholeSequenceAgain()
{
    LoggerWindow w(frozen(1));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().ignoreWritesTo = 0x0100001A; });
    periodCombo(dialog)->setCurrentIndex(periodCombo(dialog)->findText("5min"));
    const int before = requestCount(*w.logger);
    // The user puts things right, then answers OK.
    ModalAnswerer retry(messageBoxTitled("Error COM"), [&](QWidget *box) {
        w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().ignoreWritesTo = -1; });
        clickButton(QMessageBox::Ok)(box);
    });
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return retry.done() && !dialog->isVisible(); }));
    const QList<Request> sent = writesAndPeriodReads(*w.logger, before);
    QCOMPARE(sent.size(), 2 + 13);
    QCOMPARE(sent[2], (Request{7, 0x0100001A, 13}));
    QCOMPARE(sent.last(), (Request{7, 0x43, 0}));
}

void tst_StartCampaign::cancelInRetryBoxClosesOnce()
{
    LoggerWindow w(frozen(2));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
    QSignalSpy closed(dialog, SIGNAL(closed()));
    ModalAnswerer retry(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel));
    // A second click and a close while the sequence waits for the logger change nothing.
    bool interfered = false;
    QTimer::singleShot(100, dialog, [&] {
        QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
        dialog->close();
        interfered = dialog->isVisible();
    });
    const int before = requestCount(*w.logger);
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return retry.done() && !dialog->isVisible(); }));
    QVERIFY(interfered);
    QCOMPARE(closed.count(), 1);
    // One sequence only: the period write and its two read attempts.
    QCOMPARE(requestCount(*w.logger) - before, 3);
    QVERIFY(waitFor([&] { return w.central()->isEnabled() && w.refreshTimer()->isActive(); }));
}

void tst_StartCampaign::escapeResumesPolling()
{
    LoggerWindow w(frozen(1));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    QVERIFY(!w.central()->isEnabled());
    QSignalSpy closed(dialog, SIGNAL(closed()));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(closed.count(), 1);
    QVERIFY(w.central()->isEnabled());
    QVERIFY(w.refreshTimer()->isActive());
}

QTEST_MAIN(tst_StartCampaign)
#include "tst_startcampaign.moc"
