// The main window against a simulated logger: what the user sees of each device type,
// the link indicator through its four states, and the first start without settings.

#include "windowfixture.h"

#include "mainwindow.h"
#include "windowposition.h"

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}
const QString deg = QString::fromUtf8("\u00B0C");
} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void liveReading_data();
    void liveReading();
    void statusLabels_data();
    void statusLabels();
    void indicatorFollowsTheLink();
    void silentLoggerRetriesBackToBack();
    void firstStartWithoutSettings();
    void escapeInConnectionDialogResumesPolling();
    void positionRule_data();
    void positionRule();
};

void tst_MainWindow::liveReading_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("at40");   // registers 0x40..
    QTest::addColumn<QByteArray>("at48");   // registers 0x48..
    QTest::addColumn<QByteArray>("at52");   // registers 0x52..
    QTest::addColumn<int>("calibrationA");
    QTest::addColumn<int>("calibrationB");
    QTest::addColumn<QString>("screenName");
    QTest::addColumn<QString>("text");

    const QByteArray none;
    QTest::newRow("temperature 25.0") << 1 << bytes({0x90, 0x01}) << none << none << 0 << 0 << "Temperature"
                                      << QString("25.0") + deg;
    QTest::newRow("temperature unsigned 4095.0") << 1 << bytes({0xF0, 0xFF}) << none << none << 0 << 0
                                                 << "Temperature" << QString("4095.0") + deg;
    QTest::newRow("pulses") << 2 << none << bytes({0x39, 0x30, 0x00, 0x00}) << none << 0 << 0 << "Pulses"
                            << "12345 pulses";
    QTest::newRow("temp/hygro clamped at 0") << 3 << bytes({0xDE, 0x17}) << none << bytes({0x00, 0x00}) << 0 << 0
                                             << "Temp/Hygro" << QString("21.5") + deg + "\r\n0.0%";
    // Vraw 143750 with gain 23552 is 230.00 V; Iraw 13520736 with k = 256 is 0.40 A.
    const QByteArray watt53 = bytes({0x60, 0x4F, 0xCE, 0x86, 0x31, 0x02});
    const QString wattText = "Active Power:80.0W\r\nVoltage:230.00V\r\nCurrent:0.40A\r\nPower Factor:0.87";
    for (int type : {4, 7, 9})
        QTest::newRow(qPrintable(QString("wattmeter %1").arg(type)))
            << type << none << bytes({0x20, 0x03, 0x00}) << bytes({0x00}) + watt53 << 0x0100 << 23552 << "WattMetter"
            << wattText;
    QTest::newRow("calibrated temperature") << 5 << bytes({0x00, 0x10}) << none << none << 0x0F00 << 0
                                            << "Temperature" << QString("31.0") + deg;
    QTest::newRow("type K") << 6 << bytes({0xD0, 0x07}) << none << bytes({0xE8, 0x03, 0x2C, 0x01}) << 0 << 0
                            << "Temp. Type K"
                            << QString("T1:1350.0") + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
    QTest::newRow("lamp") << 8 << bytes({0x78, 0x00}) << bytes({0x18, 0x15, 0x00, 0x00}) << bytes({0x2A, 0x01}) << 0
                          << 0 << "Lamp" << "ON Time:120 s\r\nTotal ON Time:1.5 h\r\nlight: 42Lamp ON";
    QTest::newRow("type S") << 10 << bytes({0xD0, 0x07}) << none << bytes({0xE8, 0x03, 0x2C, 0x01}) << 0 << 0
                            << "Temp. Type S"
                            << QString("T1:6468.0") + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
}

void tst_MainWindow::liveReading()
{
    QFETCH(int, type);
    QFETCH(QByteArray, at40);
    QFETCH(QByteArray, at48);
    QFETCH(QByteArray, at52);
    QFETCH(int, calibrationA);
    QFETCH(int, calibrationB);
    QFETCH(QString, screenName);
    QFETCH(QString, text);

    sim::LoggerConfig config;
    config.deviceType = quint8(type);
    config.calibrationA = quint16(calibrationA);
    config.calibrationB = quint16(calibrationB);
    config.timeScale = 0;
    LoggerWindow w(config);
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        if (!at40.isEmpty())
            l.setLiveValue(0x40, at40);
        if (!at48.isEmpty())
            l.setLiveValue(0x48, at48);
        if (!at52.isEmpty())
            l.setLiveValue(0x52, at52);
    });
    QVERIFY(w.waitForRefresh());
    QVERIFY(w.waitForRefreshes(1));
    QCOMPARE(w.text("type"), screenName);
    QCOMPARE(w.text("real_txt"), text);

    // The temperature logger is told after each reading; no other type is written to.
    const bool acknowledged = w.logger->read<bool>([](sim::SimulatedLogger &l) {
        for (const sim::LoggedRequest &r : l.requests())
            if (r.function == 7 && r.registerAddress == 0x44 && r.argument == 1)
                return true;
        return false;
    });
    QCOMPARE(acknowledged, type == 1);
}

void tst_MainWindow::statusLabels_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("memoryCode");
    QTest::addColumn<quint32>("usedBytes");
    QTest::addColumn<int>("battery");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("records");
    QTest::addColumn<QString>("freeMemory");
    QTest::addColumn<int>("periodsAfterStart");   // logger time = start + this x 60 s + seconds in period
    QTest::addColumn<QString>("batteryText");

    QTest::newRow("empty") << quint32(0x1234) << 2 << quint32(0) << 4 << "1234" << "0" << "100%" << 0 << "";
    QTest::newRow("half full") << quint32(0x12345) << 2 << quint32(65536) << 3 << "00012345" << "32768" << "50%"
                               << 32768 << "<font color= orange>Low Battery</font> ";
    // Past the memory size the memory has wrapped: the time goes back one period.
    QTest::newRow("wrapped") << quint32(0xABCDEF01) << 2 << quint32(131073) << 2 << "ABCDEF01" << "65536" << "0%"
                             << 65535 << "<font color= red>Very low Battery</font> ";
    QTest::newRow("size code 0 counts as 128 KiB") << quint32(0x1234) << 0 << quint32(65536) << 255 << "1234"
                                                   << "32768" << "50%" << 32768 << "";
    QTest::newRow("256 KiB") << quint32(0x1234) << 4 << quint32(131072) << 4 << "1234" << "65536" << "50%" << 65536
                             << "";
}

void tst_MainWindow::statusLabels()
{
    QFETCH(quint32, address);
    QFETCH(int, memoryCode);
    QFETCH(quint32, usedBytes);
    QFETCH(int, battery);
    QFETCH(QString, serial);
    QFETCH(QString, records);
    QFETCH(QString, freeMemory);
    QFETCH(int, periodsAfterStart);
    QFETCH(QString, batteryText);

    sim::LoggerConfig config;
    config.address = address;
    config.deviceType = 1;
    config.version = 7;
    config.memorySizeCode = quint8(memoryCode);
    config.usedBytes = usedBytes;
    config.batteryCode = quint8(battery);
    config.periodCode = 7;
    config.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52, 0), Qt::UTC);
    config.timeScale = 0;
    LoggerWindow w(config);
    QVERIFY(w.waitForRefresh());
    QVERIFY(w.waitForRefreshes(1));

    const int secondsInPeriod = w.logger->read<int>([](sim::SimulatedLogger &l) {
        return l.liveRegisters()[0x42] | l.liveRegisters()[0x43] << 8;
    });
    const QDateTime loggerTime = config.startTime.addSecs(qint64(periodsAfterStart) * 60 + secondsInPeriod);

    QCOMPARE(w.text("sn_lab"), serial);
    QVERIFY(w.label("sn_lab")->styleSheet().contains("green"));
    QCOMPARE(w.text("version"), QString("v7"));
    QCOMPARE(w.text("period_lab"), QString("1 min"));
    QCOMPARE(w.text("start_label"), QString("26/11/14 16:52:00"));
    QCOMPARE(w.text("data_lab"), records);
    QCOMPARE(w.text("free_mem_lab"), freeMemory);
    QCOMPARE(w.text("time_lab"), loggerTime.toString("dd/MM/yy hh:mm:ss"));
    QCOMPARE(w.text("pile_lab"), batteryText);
}

void tst_MainWindow::indicatorFollowsTheLink()
{
    sim::LoggerConfig config;
    config.timeScale = 0;
    LoggerWindow w(config);
    QVERIFY(w.comStatus().contains("COM ?"));
    QVERIFY(w.waitForRefresh());
    QVERIFY(w.comStatus().contains("COM OK"));
    QVERIFY(w.comStatus().contains("icon/signal.png"));

    // Pulled out: shown at once, then the failing refreshes say there is no answer.
    w.logger->unplug();
    QVERIFY(waitFor([&] { return w.comStatus().contains("COM DISCONNECTED"); }, 5000));
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }, 5000));
    QCOMPARE(w.text("type"), QString());
    QCOMPARE(w.text("sn_lab"), QString("1234"));

    // Put back: the port is reopened and the next refresh finds the logger again.
    w.logger->replug();
    QVERIFY(w.waitForRefresh(10000));
    QCOMPARE(w.text("type"), QString("Temp/Hygro"));
}

void tst_MainWindow::silentLoggerRetriesBackToBack()
{
    sim::LoggerConfig config;
    config.timeScale = 0;
    sim::FaultConfig faults;
    faults.silent = true;
    LoggerWindow w(config, faults);
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }));
    QCOMPARE(w.refreshTimer()->interval(), 0);
    QVERIFY(w.refreshTimer()->isActive());
    QCOMPARE(w.text("data_lab"), QString());

    // Still responsive: other events get through between and during the attempts.
    bool delivered = false;
    QTimer::singleShot(50, [&] { delivered = true; });
    QVERIFY(waitFor([&] { return delivered; }, 2000));
    QVERIFY(w.central()->isEnabled());

    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = false; });
    QVERIFY(w.waitForRefresh());
    QCOMPARE(w.refreshTimer()->interval(), 1000);
}

void tst_MainWindow::firstStartWithoutSettings()
{
    ScratchDirectory dir;
    sim::LoggerConfig config;
    config.timeScale = 0;
    auto logger = startLogger(dir.path(), config);
    qputenv("VANTOREL_EXTRA_PORTS", logger->linkPath().toLocal8Bit());

    {
        MainWindow window;
        window.show();
        auto *dialog = [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->objectName() == "connection")
                    return w;
            return static_cast<QWidget *>(nullptr);
        }();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        auto *timer = window.findChild<QTimer *>("timer");
        QTest::qWait(1500);
        QVERIFY(!timer->isActive());
        QCOMPARE(logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); }), 0);

        // The user picks the logger's port and opens it.
        auto *combo = dialog->findChild<QComboBox *>("comboBox");
        const int index = combo->findText(logger->linkPath());
        QVERIFY(index >= 0);
        combo->setCurrentIndex(index);
        QTest::mouseClick(dialog->findChild<QPushButton *>("opencom"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(timer->isActive());
        QVERIFY(waitFor([&] { return window.findChild<QLabel *>("comStatus")->text().contains("COM OK"); }));
    }
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("COM/COM_PORT").toString(), logger->linkPath());

    // The next start opens that port directly.
    MainWindow again;
    QVERIFY(again.findChild<QTimer *>("timer")->isActive());
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY(!(w->objectName() == "connection" && w->isVisible()));
    qunsetenv("VANTOREL_EXTRA_PORTS");
}

void tst_MainWindow::escapeInConnectionDialogResumesPolling()
{
    sim::LoggerConfig config;
    config.timeScale = 0;
    LoggerWindow w(config);
    QVERIFY(w.waitForRefresh());
    QAction *action = w.window->findChild<QAction *>("actionConnection");
    QVERIFY(action);
    action->trigger();
    QWidget *dialog = w.dialog("connection");
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(!w.central()->isEnabled());
    QVERIFY(!w.refreshTimer()->isActive());

    QSignalSpy closed(dialog, SIGNAL(closed()));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(closed.count(), 1);
    QVERIFY(w.central()->isEnabled());
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(QSettings("config.ini", QSettings::IniFormat).contains("WINDOW_POS/COM_CONFIG_WIN_X"));
}

void tst_MainWindow::positionRule_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("restored");
    // Against a 1000 x 800 desktop.
    QTest::newRow("100 from the right edge") << 900 << 100 << false;
    QTest::newRow("101 from the right edge") << 899 << 100 << true;
    QTest::newRow("70 from the bottom") << 100 << 730 << false;
    QTest::newRow("71 from the bottom") << 100 << 729 << true;
    QTest::newRow("both just inside") << 899 << 729 << true;
    QTest::newRow("negative") << -50 << 10 << true;
    QTest::newRow("far beyond") << 2000000000 << 10 << false;
    QTest::newRow("a whole desktop to the left") << -1000 << 10 << false;
    QTest::newRow("smallest y") << 10 << -2147483647 - 1 << false;
}

void tst_MainWindow::positionRule()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, restored);
    QCOMPARE(positionFitsDesktop(QSize(1000, 800), x, y), restored);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
