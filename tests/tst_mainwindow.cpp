// The main window against a simulated logger: the link indicator, its dialogs, one
// operation at a time, and a window closed in the middle of an operation.

#include "downloaddriver.h"

#include "mainwindow.h"
#include "windowposition.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void indicatorFollowsTheLink();
    void escapeInDialogResumesPolling_data();
    void escapeInDialogResumesPolling();
    void silentLoggerRetriesBackToBack();
    void menuDuringWakeUps();
    void connectionDialogStoresTheOpenedPort_data();
    void connectionDialogStoresTheOpenedPort();
    void closedDuringAnOperation_data();
    void closedDuringAnOperation();
    void positionRule_data();
    void positionRule();
};

void tst_MainWindow::indicatorFollowsTheLink()
{
    LoggerWindow w(frozenLogger(3, 600));
    QVERIFY(w.comStatus().contains("COM ?"));
    QVERIFY(w.waitForRefresh());
    QVERIFY(w.comStatus().contains("icon/signal.png"));

    // Pulled out: shown at once, then the failing refreshes say there is no answer.
    w.logger->unplug();
    QVERIFY(waitFor([&] { return w.comStatus().contains("COM DISCONNECTED"); }, 5000));
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }, 5000));
    QCOMPARE(w.text("type"), QString());
    QCOMPARE(w.text("sn_lab"), QString("00012345"));

    // Put back: the port is reopened and the next refresh finds the logger again.
    w.logger->replug();
    QVERIFY(w.waitForRefresh(10000));
}

void tst_MainWindow::silentLoggerRetriesBackToBack()
{
    sim::FaultConfig faults;
    faults.silent = true;
    LoggerWindow w(frozenLogger(3, 600), faults);
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }));
    QCOMPARE(w.refreshTimer()->interval(), 0);
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());

    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = false; });
    QVERIFY(w.waitForRefresh());
    QCOMPARE(w.refreshTimer()->interval(), 1000);
}

void tst_MainWindow::escapeInDialogResumesPolling_data()
{
    QTest::addColumn<QString>("dialogName");
    QTest::newRow("connection, from the menu") << "connection";
    QTest::newRow("new campaign, from its button") << "start";
}

void tst_MainWindow::escapeInDialogResumesPolling()
{
    QFETCH(QString, dialogName);
    LoggerWindow w(frozenLogger(3, 600));
    QVERIFY(w.waitForRefresh());
    if (dialogName == "connection")
        w.window->findChild<QAction *>("actionConnection")->trigger();
    else
        QTest::mouseClick(w.window->findChild<QPushButton *>("startButton"), Qt::LeftButton);
    QWidget *dialog = nullptr;
    QVERIFY(waitFor([&] { return (dialog = w.dialog(qPrintable(dialogName))) && dialog->isVisible(); }));
    QVERIFY(!w.central()->isEnabled());
    QVERIFY(!w.refreshTimer()->isActive());

    QSignalSpy closed(dialog, SIGNAL(closed()));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(closed.count(), 1);
    QVERIFY(w.central()->isEnabled());
    QVERIFY(w.refreshTimer()->isActive());
}

void tst_MainWindow::menuDuringWakeUps()
{
    LoggerWindow w(frozenLogger(3, 600));
    QVERIFY(w.waitForRefresh());
    const QString other = w.dir.filePath("ttyOTHER");
    QFile(other).open(QIODevice::WriteOnly);
    qputenv("VANTOREL_EXTRA_PORTS", (w.portPath() + ":" + other).toLocal8Bit());
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });

    // While the button wakes the logger: the menu, and another port opened in its dialog.
    QTimer::singleShot(300, [&] {
        w.window->findChild<QAction *>("actionConnection")->trigger();
        QWidget *dialog = w.dialog("connection");
        if (dialog && dialog->isVisible()) {
            auto *combo = dialog->findChild<QComboBox *>("comboBox");
            combo->setCurrentIndex(combo->findText(other));
            QTest::mouseClick(dialog->findChild<QPushButton *>("opencom"), Qt::LeftButton);
            if (dialog->isVisible())
                QTest::keyClick(dialog, Qt::Key_Escape);
        }
    });
    // Refresh ticks while the operation waits for the user: none may spin.
    QSignalSpy ticks(w.refreshTimer(), &QTimer::timeout);
    int ticksInBox = -1;
    ModalAnswerer retry(messageBoxTitled("Error COM"), [&](QWidget *box) {
        ticks.clear();
        QTest::qWait(1000);
        ticksInBox = int(ticks.count());
        clickButton(QMessageBox::Cancel)(box);
    });
    QTest::mouseClick(w.window->findChild<QPushButton *>("startButton"), Qt::LeftButton);
    QVERIFY(waitFor([&] { return retry.done(); }));
    QVERIFY2(ticksInBox >= 0 && ticksInBox <= 1, qPrintable(QString::number(ticksInBox)));
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("COM/COM_PORT").toString(), w.portPath());
    // The menu acts once the operation is over.
    QVERIFY(waitFor([&] { return w.dialog("connection") && w.dialog("connection")->isVisible(); }));
    QVERIFY(!w.refreshTimer()->isActive());
}

void tst_MainWindow::connectionDialogStoresTheOpenedPort_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Open Connection") << true;
    QTest::newRow("closed with no port open") << false;
}

// A configured port that is gone: the dialog comes up, the user picks the logger's port.
void tst_MainWindow::connectionDialogStoresTheOpenedPort()
{
    QFETCH(bool, byButton);
    ScratchDirectory dir;
    const auto logger = startLogger(dir.path(), frozenLogger(3, 600));
    qputenv("VANTOREL_EXTRA_PORTS", logger->linkPath().toLocal8Bit());
    dir.writeConfig("[COM]\nCOM_PORT=" + dir.filePath("ttyGONE").toLocal8Bit() + "\n[COM_TIMEOUT]\nBASE=150\n");
    MainWindow window;
    window.show();
    QWidget *dialog = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        dialog = top->objectName() == "connection" ? top : dialog;
    QVERIFY(dialog && dialog->isVisible());
    auto *combo = dialog->findChild<QComboBox *>("comboBox");
    combo->setCurrentIndex(combo->findText(logger->linkPath()));
    if (byButton)
        QTest::mouseClick(dialog->findChild<QPushButton *>("opencom"), Qt::LeftButton);
    else
        dialog->close();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("COM/COM_PORT").toString(), logger->linkPath());
    QVERIFY(waitFor([&] { return window.findChild<QLabel *>("comStatus")->text().contains("COM OK"); }));
    qunsetenv("VANTOREL_EXTRA_PORTS");
}

void tst_MainWindow::closedDuringAnOperation_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("download") << "download";
    QTest::newRow("retry box") << "retry";
}

void tst_MainWindow::closedDuringAnOperation()
{
    QFETCH(QString, moment);
    QTemporaryDir dir;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--close-during", moment, dir.filePath("campaign.tsv")});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The child of closedDuringAnOperation: a download whose window is closed by the user.
static int closeDuring(int argc, char **argv)
{
    QApplication application(argc, argv);
    const bool inRetryBox = qstrcmp(argv[2], "retry") == 0;
    sim::LineConfig slow;
    slow.answerLatencyUs = 2000;
    LoggerWindow w(frozenLogger(1, 0x1FFFF), sim::FaultConfig(), QByteArray(), slow);
    if (!w.waitForRefresh())
        return 2;
    SaveDialogAnswer save(QString::fromLocal8Bit(argv[3]));
    ModalAnswerer progress(progressDialog(), [&](QWidget *) {
        waitFor([&] { return blockReads(*w.logger) > 20; }, 5000);
        if (inRetryBox)
            w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
        else
            w.window->close();
    });
    ModalAnswerer retry(messageBoxTitled("Error COM"), [&](QWidget *) { w.window->close(); });
    QTimer::singleShot(0, w.window->findChild<QPushButton *>("readButton"), &QPushButton::click);
    return application.exec();
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
    QTest::newRow("far beyond") << 2000000000 << 10 << false;
    QTest::newRow("smallest y") << 10 << -2147483647 - 1 << false;
}

void tst_MainWindow::positionRule()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, restored);
    QCOMPARE(positionFitsDesktop(QSize(1000, 800), x, y), restored);
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--close-during") == 0)
        return closeDuring(argc, argv);
    QApplication application(argc, argv);
    tst_MainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
