// vantorel-cli read of several loggers at once: four loggers with a full 128 KiB memory on
// four simulated ports paced at 115200 bit/s, read with one command, against one of them
// read alone the same way. Target: the four in at most 1.15 times the time of one.

#include "ptylogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

// Seconds the command took, all its loggers read.
double timedRead(const QStringList &links, const QString &directory)
{
    QStringList args = {QStringLiteral("read"), QStringLiteral("-d"), directory};
    for (const QString &link : links)
        args << QStringLiteral("--port") << link;
    QDir().mkpath(directory);
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(VANTOREL_CLI), args);
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        qFatal("vantorel-cli read failed: %s", process.readAllStandardError().constData());
    const double seconds = clock.elapsed() / 1000.0;
    out << process.readAllStandardOutput();
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::vector<std::unique_ptr<sim::PtyLogger>> loggers;
    QStringList links;
    for (int i = 0; i < 4; ++i) {
        sim::LoggerConfig config;
        config.address = 0x1001 + quint32(i);
        config.deviceType = 1;
        config.usedBytes = 0x20000;
        config.timeScale = 0;
        sim::LineConfig line;
        line.baudRate = 115200;
        loggers.push_back(std::make_unique<sim::PtyLogger>(dir.filePath(QStringLiteral("ttyBENCH%1").arg(i)), config,
                                                           sim::FaultConfig(), line));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        links << loggers.back()->linkPath();
    }
    out << "== one 128 KiB logger alone at 115200 bit/s\n";
    out.flush();
    const double one = timedRead(links.mid(0, 1), dir.filePath(QStringLiteral("one")));
    out << "== four 128 KiB loggers at once, each on its own port at 115200 bit/s\n";
    out.flush();
    const double four = timedRead(links, dir.filePath(QStringLiteral("four")));
    out << QStringLiteral("one alone: %1 s; four at once: %2 s; ratio %3 (target <= 1.15)\n")
               .arg(one, 0, 'f', 2).arg(four, 0, 'f', 2).arg(four / one, 0, 'f', 3);
    return 0;
}
