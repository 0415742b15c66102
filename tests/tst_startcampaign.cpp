// "Start a new campaign" as the window and its dialog run it: the period list, the
// memory-full date, the retry box. The requests themselves are the device tests'.

#include "windowfixture.h"

#include "clock.h"
#include "mainwindow.h"

#include <QComboBox>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
int periodWrites(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) {
        int n = 0;
        for (const sim::LoggedRequest &r : l.requests())
            n += r.function == 7 && r.registerAddress == 0x0100001A;
        return n;
    });
}

// Opens the new-campaign dialog as the user does, once the window shows the logger.
QWidget *openStartDialog(LoggerWindow &w)
{
    if (!w.waitForRefresh())
        return nullptr;
    QTest::mouseClick(w.window->findChild<QPushButton *>("startButton"), Qt::LeftButton);
    QWidget *dialog = w.dialog("start");
    return waitFor([&] { return dialog && dialog->isVisible(); }) ? dialog : nullptr;
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
    void cleanup() { Clock::setSource({}); }
    void chosenPeriodStarts_data();
    void chosenPeriodStarts();
    void retryBox_data();
    void retryBox();
};

void tst_StartCampaign::chosenPeriodStarts_data()
{
    QTest::addColumn<int>("loggerCode");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("choose");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("memoryFull");  // from 26/11/26 10:20:30, 65535 two-byte records
    QTest::newRow("10 min is code 8") << 8 << "10min" << "1h" << "1 h" << "19/05/34 01:00";
    QTest::newRow("2 min is code 10") << 10 << "2min" << "1s" << "1 s" << "27/11/26 04:32";
}

void tst_StartCampaign::chosenPeriodStarts()
{
    QFETCH(int, loggerCode);
    QFETCH(QString, item);
    QFETCH(QString, choose);
    QFETCH(QString, shown);
    QFETCH(QString, memoryFull);
    Clock::setSource([] { return QDateTime(QDate(2026, 11, 26), QTime(10, 20, 30), Qt::UTC); });
    LoggerWindow w(frozen(1, loggerCode));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    auto *combo = dialog->findChild<QComboBox *>("period_combo");
    QCOMPARE(combo->currentText(), item);
    combo->setCurrentIndex(combo->findText(choose));
    QCOMPARE(dialog->findChild<QLabel *>("date_lab")->text(), memoryFull);

    QSignalSpy closed(dialog, SIGNAL(closed()));
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return !dialog->isVisible(); }));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(lastArchivedEvent().kind, Archive::EventKind::CampaignStarted);
    QCOMPARE(lastArchivedEvent().details, (QJsonObject{{"periodCode", loggerCode == 8 ? 9 : 0}, {"period", shown}, {"start", loggerStartText(*w.logger)}}));
    // The next refresh shows the new campaign.
    QVERIFY(waitFor([&] { return w.central()->isEnabled() && w.refreshTimer()->isActive(); }));
    QVERIFY(w.waitForRefreshes(1));
    QCOMPARE(w.text("period_lab"), shown);
    QCOMPARE(w.text("data_lab"), QString("0"));
}

void tst_StartCampaign::retryBox_data()
{
    QTest::addColumn<bool>("retry");
    QTest::newRow("OK once put right: the whole sequence again") << true;
    QTest::newRow("Cancel: closed once, one sequence") << false;
}

void tst_StartCampaign::retryBox()
{
    QFETCH(bool, retry);
    LoggerWindow w(frozen(2));
    QWidget *dialog = openStartDialog(w);
    QVERIFY(dialog);
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
    QSignalSpy closed(dialog, SIGNAL(closed()));
    ModalAnswerer box(messageBoxTitled("Error COM"), [&](QWidget *b) {
        w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = false; });
        clickButton(retry ? QMessageBox::Ok : QMessageBox::Cancel)(b);
    });
    // A second click and a close while the sequence waits for the logger change nothing.
    bool interfered = false;
    QTimer::singleShot(100, dialog, [&] {
        QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
        dialog->close();
        interfered = dialog->isVisible();
    });
    const int before = periodWrites(*w.logger);
    QTest::mouseClick(dialog->findChild<QPushButton *>("Start"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return box.done() && !dialog->isVisible(); }));
    QVERIFY(interfered);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(periodWrites(*w.logger) - before, retry ? 2 : 1);
    QCOMPARE(w.logger->read<bool>([](sim::SimulatedLogger &l) { return l.isRecording(); }), true);
    QVERIFY(waitFor([&] { return w.central()->isEnabled() && w.refreshTimer()->isActive(); }));
}

QTEST_MAIN(tst_StartCampaign)
#include "tst_startcampaign.moc"
