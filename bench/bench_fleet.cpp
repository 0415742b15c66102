// The fleet window, offscreen: eight simulated loggers, the time until every row shows its
// logger (target: within 3 s of opening) and the interface thread's longest stall while the
// eight download at once (target: at most 50 ms); then "Download all" of four loggers with a
// full 128 KiB memory on ports paced at 115200 bit/s against one of them alone (target: at
// most 1.15 times), each through an archive of its own, and the stall during the four.

#include "fleetmodel.h"
#include "fleetwindow.h"
#include "ptylogger.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);
using Loggers = std::vector<std::unique_ptr<sim::PtyLogger>>;

Loggers startLoggers(const QString &directory, int count, quint32 usedBytes, int baudRate)
{
    Loggers loggers;
    QStringList links;
    for (int i = 0; i < count; ++i) {
        sim::LoggerConfig config;
        config.address = 0x3001 + quint32(i);
        config.deviceType = 1;
        config.usedBytes = usedBytes;
        config.timeScale = 0;
        sim::LineConfig line;
        line.baudRate = baudRate;
        loggers.push_back(std::make_unique<sim::PtyLogger>(directory + QStringLiteral("/ttyFLEET%1").arg(i), config, sim::FaultConfig(), line));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        links << loggers.back()->linkPath();
    }
    qputenv("VANTOREL_EXTRA_PORTS", links.join(QLatin1Char(':')).toLocal8Bit());
    return loggers;
}

// The time the calling thread has waited for a core, ready to run, in ms (the scheduler's
// statistics on Linux; 0 elsewhere): a stall spent waiting is the machine's load.
qint64 waitedForCoreMs()
{
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(1).toLongLong() / 1000000 : 0;
}

struct Stall {
    qint64 ms = 0;
    qint64 waitingMs = 0;   // of those, waiting for a core
};

QString stallText(const Stall &stall)
{
    return QStringLiteral("%1 ms (%2 ms of it waiting for a core)").arg(stall.ms).arg(stall.waitingMs);
}

// Runs the event loop until `done`; the longest gap between two ticks of a 5 ms timer meanwhile.
Stall runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer total, sinceTick;
    total.start();
    sinceTick.start();
    Stall longest;
    qint64 waited = waitedForCoreMs();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 gap = sinceTick.restart(), waitedNow = waitedForCoreMs();
        if (gap > longest.ms)
            longest = Stall{gap, waitedNow - waited};
        waited = waitedNow;
        if (done() || total.elapsed() > timeoutMs)
            loop.quit();
    });
    tick.start(5);
    loop.exec();
    return longest;
}

// Seconds from "Download all" to the last report.
double downloadAll(FleetWindow &window, const QString &folder, Stall *stall = nullptr)
{
    QDir().mkpath(folder);
    QElapsedTimer clock;
    clock.start();
    if (!window.downloadInto(folder, false))
        qFatal("no download started");
    const Stall longest = runUntil([&] { return !window.model()->downloading(); }, 600000);
    if (stall)
        *stall = longest;
    return clock.elapsed() / 1000.0;
}

// A window on `count` loggers, once every one of them can be downloaded.
std::unique_ptr<FleetWindow> openWindow(int count, double *seconds = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<FleetWindow>();
    window->show();
    runUntil([&] { return window->model()->downloadablePorts().size() == count; }, 60000);
    if (seconds)
        *seconds = clock.elapsed() / 1000.0;
    return window;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    {
        Loggers loggers = startLoggers(dir.path(), 8, 20000, 0);
        double complete = 0;
        std::unique_ptr<FleetWindow> window = openWindow(8, &complete);
        out << QStringLiteral("table complete with 8 loggers: %1 s after opening (target: within 3 s)\n").arg(complete, 0, 'f', 2);
        Stall stall;
        const double seconds = downloadAll(*window, dir.filePath(QStringLiteral("eight")), &stall);
        out << QStringLiteral("8 loggers downloaded at once in %1 s; longest stall of the interface thread: %2 (target: at most 50 ms)\n")
                   .arg(seconds, 0, 'f', 2).arg(stallText(stall));
        out.flush();
    }
    Loggers loggers = startLoggers(dir.path(), 4, 0x20000, 115200);
    QStringList first = {loggers[0]->linkPath()};
    qputenv("VANTOREL_EXTRA_PORTS", first.join(QLatin1Char(':')).toLocal8Bit());
    double one = 0, four = 0;
    Stall fourStall;
    {
        // A fresh archive: the eight above had the same serial numbers and campaign, and a
        // read through their archive would read only what they had not.
        QDir().mkpath(dir.filePath(QStringLiteral("first")));
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("first")).toLocal8Bit());
        std::unique_ptr<FleetWindow> window = openWindow(1);
        one = downloadAll(*window, dir.filePath(QStringLiteral("one")));
    }
    QStringList links;
    for (const auto &logger : loggers)
        links << logger->linkPath();
    qputenv("VANTOREL_EXTRA_PORTS", links.join(QLatin1Char(':')).toLocal8Bit());
    {
        // A fresh archive: the four are read in full, as the one alone was.
        QDir().mkpath(dir.filePath(QStringLiteral("second")));
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("second")).toLocal8Bit());
        std::unique_ptr<FleetWindow> window = openWindow(4);
        four = downloadAll(*window, dir.filePath(QStringLiteral("four")), &fourStall);
    }
    out << QStringLiteral("Download all, 128 KiB at 115200 bit/s: one alone %1 s; four at once %2 s; ratio %3 (target <= 1.15); "
                          "longest stall of the interface thread during the four: %4\n")
               .arg(one, 0, 'f', 2).arg(four, 0, 'f', 2).arg(four / one, 0, 'f', 3).arg(stallText(fourStall));
    return 0;
}
