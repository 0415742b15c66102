#include "windowfixture.h"

#include "mainwindow.h"

#include <QApplication>
#include <QTest>

LoggerWindow::LoggerWindow(sim::LoggerConfig config, const sim::FaultConfig &faults, const QByteArray &extraConfig,
                           const sim::LineConfig &line)
    : logger(startLogger(dir.path(), config, faults, line))
{
    qputenv("VANTOREL_EXTRA_PORTS", portPath().toLocal8Bit());
    // A generous time-out base: the test machines are shared, and a late answer would
    // show up as a retry in the request log.
    const QByteArray timeouts = extraConfig.contains("[COM_TIMEOUT]") ? QByteArray() : "[COM_TIMEOUT]\nBASE=150\n";
    dir.writeConfig("[COM]\nCOM_PORT=" + portPath().toLocal8Bit() + "\n" + timeouts + extraConfig);
    window = std::make_unique<MainWindow>();
    window->show();
}

LoggerWindow::~LoggerWindow()
{
    window.reset();
    logger.reset();
    qunsetenv("VANTOREL_EXTRA_PORTS");
}

QLabel *LoggerWindow::label(const char *labelName) const { return window->findChild<QLabel *>(labelName); }
QTimer *LoggerWindow::refreshTimer() const { return window->findChild<QTimer *>("timer"); }
QWidget *LoggerWindow::central() const { return window->findChild<QWidget *>("centralWidget"); }

QWidget *LoggerWindow::dialog(const char *objectName) const
{
    const auto tops = QApplication::topLevelWidgets();
    const auto found = std::find_if(tops.begin(), tops.end(), [&](QWidget *w) { return w->objectName() == objectName; });
    return found == tops.end() ? nullptr : *found;
}

bool LoggerWindow::waitForRefresh(int timeoutMs)
{
    return waitFor([this] { return comStatus().contains("COM OK") && !text("data_lab").isEmpty(); }, timeoutMs);
}

bool LoggerWindow::waitForRefreshes(int count, int timeoutMs)
{
    // A refresh reads the identity block once; it is over when the line goes quiet after it.
    const auto requests = [this](bool identityOnly) {
        return logger->read<int>([identityOnly](sim::SimulatedLogger &l) {
            return int(std::count_if(l.requests().begin(), l.requests().end(), [identityOnly](const sim::LoggedRequest &r) {
                return !identityOnly || r.registerAddress == 0x01000000;
            }));
        });
    };
    const int target = requests(true) + count;
    int seen = -1;
    return waitFor([&] { return requests(true) >= target; }, timeoutMs) && waitFor([&] {
        const int now = requests(false), last = seen;
        seen = now;
        QTest::qWait(100);
        return now == last;
    }, timeoutMs);
}
