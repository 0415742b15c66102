// The fleet window against simulated loggers on ptys: opened from the main window's menu,
// rows that follow plug and unplug on the ports of the settings, the values `status` shows,
// the clock offset, the table copied, downloads of all at once equal to single reads and
// opened in the campaign window, a logger pulled out during its download, and the window
// closed during one.

#include "campaignwindow.h"
#include "clock.h"
#include "downloaddriver.h"
#include "fleetmodel.h"
#include "fleetwindow.h"
#include "mainwindow.h"
#include "settings.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

namespace {

using Loggers = std::vector<std::unique_ptr<sim::PtyLogger>>;

// Serial numbers 00011111, 00022222...; the ports the window watches: theirs, then `extra`.
Loggers startLoggers(const QString &directory, const QList<int> &types, quint32 usedBytes, const QStringList &extra = {},
                     const sim::LineConfig &line = {})
{
    Loggers loggers;
    QStringList ports;
    for (int i = 0; i < types.size(); ++i) {
        sim::LoggerConfig config = frozenLogger(types[i], usedBytes);
        config.address = 0x11111 * quint32(i + 1);
        loggers.push_back(std::make_unique<sim::PtyLogger>(QStringLiteral("%1/tty%2").arg(directory).arg(i), config, sim::FaultConfig(), line));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        ports << loggers.back()->linkPath();
    }
    qputenv("VANTOREL_EXTRA_PORTS", (ports + extra).join(QLatin1Char(':')).toLocal8Bit());
    return loggers;
}

QString cell(const FleetModel *model, const QString &port, int column)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->port(row) == port)
            return model->index(row, column).data().toString();
    return QStringLiteral("(no row)");
}

template <typename Window> Window *topLevel()
{
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget *widget : tops)
        if (auto *window = qobject_cast<Window *>(widget))
            return window;
    return nullptr;
}

QByteArray cli(const QStringList &args, const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(QStringLiteral(VANTOREL_CLI), args);
    process.waitForFinished(120000);
    return process.readAllStandardOutput() + process.readAllStandardError();
}

} // namespace

class tst_Fleet : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }

    void openedFromTheMainWindow()
    {
        LoggerWindow w(frozenLogger(3, 600));
        QVERIFY(w.waitForRefresh());
        w.window->findChild<QAction *>("actionAllLoggers")->trigger();
        const auto *fleet = topLevel<FleetWindow>();
        QVERIFY(fleet && fleet->isVisible());
        QCOMPARE(cell(fleet->model(), w.portPath(), FleetModel::StateColumn), "left to the main window");
    }

    void rowsFollowTheLoggers_data()
    {
        QTest::addColumn<bool>("named");   // the settings name every port but the fourth's
        QTest::newRow("every port") << false;
        QTest::newRow("the ports of the settings") << true;
    }

    void rowsFollowTheLoggers()
    {
        QFETCH(bool, named);
        ScratchDirectory dir;
        const QString notSerial = dir.filePath("notserial");
        QVERIFY(QFile(notSerial).open(QIODevice::WriteOnly));
        Loggers loggers = startLoggers(dir.path(), {3, 7, 1, 3}, 4000, {notSerial});
        QList<QByteArray> status;
        for (int i : {0, 1})
            status << cli({"status", "--port", loggers[i]->linkPath()}, dir.path());
        const QString a = loggers[0]->linkPath(), b = loggers[1]->linkPath(), d = loggers[3]->linkPath();
        // The PC's clock 75 s behind the first logger's (frozen, as `status` shows it).
        const QString loggerTime = QString::fromUtf8(status[0]).section("Logger time:   ", 1).section('\n', 0, 0);
        const QDateTime loggerWall = QDateTime::fromString(loggerTime, "dd/MM/yy hh:mm:ss").addYears(100);
        QVERIFY2(loggerWall.isValid(), status[0].constData());
        Clock::setSource([pc = QDateTime(loggerWall.date(), loggerWall.time()).addSecs(-75)] { return pc; });
        if (named)
            Settings().setValue(SettingsKey::fleetPorts, QStringList{a, b, loggers[2]->linkPath(), notSerial});

        // The third port is the main window's.
        FleetWindow window(loggers[2]->linkPath());
        const FleetModel *model = window.model();
        QTRY_VERIFY_WITH_TIMEOUT(cell(model, a, FleetModel::StateColumn) == "answering" && cell(model, b, FleetModel::StateColumn) == "answering"
                                     && cell(model, d, FleetModel::StateColumn) == (named ? "(no row)" : "answering"), 30000);
        for (int i : {0, 1}) {
            const QString port = loggers[i]->linkPath();
            for (const auto &[label, column] : {std::pair{"Serial number: ", FleetModel::SerialColumn}, {"Records:       ", FleetModel::RecordsColumn},
                                               {"Free memory:   ", FleetModel::FreeMemoryColumn}, {"Battery:       ", FleetModel::BatteryColumn},
                                               {"Live reading:  ", FleetModel::ValuesColumn}, {"Type:          ", FleetModel::TypeColumn}})
                QVERIFY2(status[i].contains(label + cell(model, port, column).toUtf8() + '\n'), status[i].constData());
        }
        QCOMPARE(cell(model, a, FleetModel::ClockOffsetColumn), "+75 s");
        QTRY_VERIFY_WITH_TIMEOUT(cell(model, notSerial, FleetModel::StateColumn).startsWith("cannot be opened: "), 30000);
        QCOMPARE(cell(model, loggers[2]->linkPath(), FleetModel::StateColumn), "left to the main window");

        // "Copy": the header, then each row as shown, its port's whole path; tab-separated.
        QTest::mouseClick(window.findChild<QPushButton *>("copyTable"), Qt::LeftButton);
        const QStringList copied = QApplication::clipboard()->text().split('\n');
        QCOMPARE(copied.value(0), "Port\tSerial number\tType\tLive values\tBattery\tRecords\tFree memory\tClock offset\tLast download\tState");
        const QStringList copiedA = copied.filter(a + '\t').value(0).split('\t');
        QCOMPARE(copiedA.size(), int(FleetModel::ColumnCount));
        for (int column = 1; column < FleetModel::ColumnCount; ++column)
            QCOMPARE(copiedA[column], cell(model, a, column));

        loggers[1]->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(cell(model, b, FleetModel::StateColumn) == "(no row)", 30000);
        loggers[1]->replug();
        QTRY_VERIFY_WITH_TIMEOUT(cell(model, b, FleetModel::SerialColumn) == "00022222", 30000);
        // Nothing was ever sent to the main window's logger, nor to one the settings leave out.
        const auto requests = [](sim::SimulatedLogger &l) { return int(l.requests().size()); };
        QCOMPARE(loggers[2]->read<int>(requests), 0);
        if (!named)
            return;
        QCOMPARE(loggers[3]->read<int>(requests), 0);
        // No port named: the station's own.
        QVERIFY(window.usePorts({}));
        QCOMPARE(FleetWindow::configuredPorts(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(cell(model, d, FleetModel::StateColumn), "answering", 30000);
    }

    void downloadAll_data()
    {
        QTest::addColumn<bool>("pullOut");   // the third logger is pulled out during its download
        QTest::newRow("three loggers") << false;
        QTest::newRow("one pulled out during its download") << true;
    }

    void downloadAll()
    {
        QFETCH(bool, pullOut);
        ScratchDirectory dir;
        QVERIFY(QDir(dir.path()).mkdir("all"));
        Loggers loggers = startLoggers(dir.path(), {3, 7, 1}, 20000);
        auto window = std::make_unique<FleetWindow>();
        const FleetModel *model = window->model();
        QTRY_VERIFY_WITH_TIMEOUT(model->downloadablePorts().size() == 3, 30000);
        if (pullOut)
            loggers[2]->withLogger([](sim::SimulatedLogger &l) { l.faults().unplugAfterRequests = int(l.requests().size()) + 150; });

        // The interface thread's longest stall while they download, seen by a timer.
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = qMax(longest, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        // Each percent of each download changes a row; the view hears of them a few times a second.
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
        QElapsedTimer downloading;
        downloading.start();
        QVERIFY(window->downloadInto(dir.filePath("all"), false));
        QTRY_VERIFY_WITH_TIMEOUT(!model->downloading(), 120000);
        tick.stop();
        qInfo("longest stall of the interface thread: %lld ms", longest);
        QVERIFY(longest < 1000);
        QVERIFY2(changes.size() <= downloading.elapsed() / FleetModel::REFRESH_MS + 3,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(changes.size()).arg(downloading.elapsed())));
        const QString summary = window->findChild<QLabel *>("fleetMessage")->text();
        QVERIFY2(summary.startsWith(pullOut ? "2 file(s), 10000 records, 10000 new; 1 failure(s):\n" + loggers[2]->linkPath() + ": "
                                            : "3 file(s), 20000 records, 20000 new; 0 failure(s)"), qPrintable(summary));
        if (pullOut)
            QTRY_COMPARE_WITH_TIMEOUT(cell(model, loggers[2]->linkPath(), FleetModel::StateColumn), "pulled out during its download; no file was written", 30000);
        // "Open campaign": the selected logger's download in the campaign window.
        window->findChild<QTableView *>("fleetTable")->selectRow(1);
        QTest::mouseClick(window->findChild<QPushButton *>("openCampaign"), Qt::LeftButton);
        const auto *campaign = topLevel<CampaignWindow>();
        QVERIFY(campaign && campaign->isVisible());
        QVERIFY2(campaign->campaign().fileName.startsWith("00022222_"), qPrintable(campaign->campaign().fileName));
        window.reset();

        for (int i = 0; i < 3; ++i) {
            const QString serial = QStringLiteral("000%1").arg(11111 * (i + 1));
            const QStringList written = QDir(dir.filePath("all")).entryList({"*"}, QDir::Files | QDir::Hidden);
            const QStringList mine = written.filter(serial + "_");
            QCOMPARE(mine.size(), pullOut && i == 2 ? 0 : 1);
            if (mine.isEmpty())
                continue;
            // Through the archive: the single read after it reads only what is new.
            QVERIFY(cli({"read", "--port", loggers[i]->linkPath(), "-o", "single.tsv"}, dir.path()).contains("new since the last download"));
            QCOMPARE(readFile(dir.filePath("all/" + mine[0])), readFile(dir.filePath("single.tsv")));
        }
    }

    void closingMidDownload()
    {
        ScratchDirectory dir;
        QVERIFY(QDir(dir.path()).mkdir("out"));
        // Slow enough to be closed in the middle of its download.
        Loggers loggers = startLoggers(dir.path(), {3}, 120000, {}, sim::LineConfig{0, 5000});
        auto window = std::make_unique<FleetWindow>();
        const QString port = loggers[0]->linkPath();
        QTRY_VERIFY_WITH_TIMEOUT(cell(window->model(), port, FleetModel::StateColumn) == "answering", 30000);

        // A folder that cannot be written is told before any download starts.
        QVERIFY(!window->downloadInto(dir.filePath("missing/out"), false));
        QVERIFY(window->findChild<QLabel *>("fleetMessage")->text().startsWith("Nothing was downloaded: the folder cannot be written"));
        QVERIFY(window->downloadInto(dir.filePath("out"), false));
        QTRY_VERIFY2_WITH_TIMEOUT(cell(window->model(), port, FleetModel::StateColumn).contains(QRegularExpression("downloading [1-9]")),
                                  qPrintable(cell(window->model(), port, FleetModel::StateColumn) + window->findChild<QLabel *>("fleetMessage")->text().replace("\n", " / ")), 60000);

        QElapsedTimer closing;
        closing.start();
        window->close();
        QVERIFY2(closing.elapsed() < 2000, qPrintable(QString::number(closing.elapsed())));
        window.reset();
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_MAIN(tst_Fleet)
#include "tst_fleet.moc"
