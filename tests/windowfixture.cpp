#include "windowfixture.h"

#include "mainwindow.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

LoggerWindow::LoggerWindow(sim::LoggerConfig config, const sim::FaultConfig &faults, const QByteArray &extraConfig,
                           const sim::LineConfig &line)
{
    logger = startLogger(dir.path(), config, faults, line);
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

QString LoggerWindow::portPath() const
{
    return logger->linkPath();
}

QLabel *LoggerWindow::label(const char *labelName) const
{
    return window->findChild<QLabel *>(QString::fromLatin1(labelName));
}

QString LoggerWindow::text(const char *labelName) const
{
    QLabel *l = label(labelName);
    return l ? l->text() : QStringLiteral("<no label %1>").arg(QString::fromLatin1(labelName));
}

QTimer *LoggerWindow::refreshTimer() const
{
    return window->findChild<QTimer *>(QStringLiteral("timer"));
}

QWidget *LoggerWindow::central() const
{
    return window->findChild<QWidget *>(QStringLiteral("centralWidget"));
}

QWidget *LoggerWindow::dialog(const char *objectName) const
{
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget *w : tops)
        if (w->objectName() == QLatin1String(objectName))
            return w;
    return nullptr;
}

bool LoggerWindow::waitForRefresh(int timeoutMs)
{
    return waitFor([this] { return comStatus().contains(QLatin1String("COM OK")) && !text("data_lab").isEmpty(); },
                   timeoutMs);
}

bool LoggerWindow::waitForRefreshes(int count, int timeoutMs)
{
    // A refresh reads the identity block once; it is over when the line goes quiet after it.
    const auto identityReads = [this] {
        return logger->read<int>([](sim::SimulatedLogger &l) {
            int n = 0;
            for (const sim::LoggedRequest &r : l.requests())
                n += r.registerAddress == 0x01000000;
            return n;
        });
    };
    const auto requestCount = [this] {
        return logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
    };
    const int target = identityReads() + count;
    if (!waitFor([&] { return identityReads() >= target; }, timeoutMs))
        return false;
    int seen = -1;
    return waitFor([&] {
        const int now = requestCount();
        const bool quiet = now == seen;
        seen = now;
        QTest::qWait(100);
        return quiet;
    }, timeoutMs);
}
