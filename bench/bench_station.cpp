// vantorel-cli read of several loggers at once: four loggers with a full 128 KiB memory on
// four simulated ports paced at 115200 bit/s, read with one command, against one of them
// read alone the same way. Target: the four in at most 1.15 times the time of one.
// Then vantorel-cli serve on 32 loggers polled every second: its share of one core and its
// resident memory (targets: under 10 %, under 100 MB), the time of a scrape of /metrics
// (target: well under 50 ms); then a soak (BENCH_SOAK_S seconds, default 180) in which a
// logger is pulled out for 0.05 to 0.3 s, or swapped for another, every 20 to 40 s (BENCH_PLUG_S
// to twice that): memory, threads and descriptors at its start, every 2 minutes and at its end
// (target: flat), and every logger up at the end.

#include "ptylogger.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

QTextStream out(stdout);

// Seconds the command took, all its loggers read.
double timedRead(const QStringList &links, const QString &directory)
{
    // Full reads: an archive holding an earlier run would leave nothing new to read.
    QStringList args = {QStringLiteral("read"), QStringLiteral("--no-archive"), QStringLiteral("-d"), directory};
    for (const QString &link : links)
        args << QStringLiteral("--port") << link;
    QDir().mkpath(directory);
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(VANTOREL_CLI), args);
    // A loaded machine can lose a paced logger: told, and the station's figures still taken.
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        out << "vantorel-cli read failed: " << process.readAllStandardError();
        return -1;
    }
    const double seconds = clock.elapsed() / 1000.0;
    out << process.readAllStandardOutput();
    return seconds;
}

QByteArray get(QNetworkAccessManager &manager, const QString &url)
{
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

// What the process holds, from /proc (Linux).
struct Usage {
    double cpuSeconds = 0;
    double rssMb = 0;
    int threads = 0;
    int fds = 0;
};

Usage usageOf(qint64 pid)
{
    Usage u;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
#ifdef Q_OS_UNIX
        const double tick = double(sysconf(_SC_CLK_TCK));
#else
        const double tick = 100;
#endif
        // After the command's name: state is field 3, utime 14 and stime 15 of the whole line.
        u.cpuSeconds = (fields.value(12).toDouble() + fields.value(13).toDouble()) / tick;
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                u.rssMb = line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
            if (line.startsWith("Threads:"))
                u.threads = line.mid(8).trimmed().toInt();
        }
    u.fds = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
    return u;
}

QString usageText(const Usage &u)
{
    return QStringLiteral("RSS %1 MB, %2 threads, %3 descriptors").arg(u.rssMb, 0, 'f', 1).arg(u.threads).arg(u.fds);
}

sim::LoggerConfig loggerConfig(int i)
{
    sim::LoggerConfig config;
    config.address = 0x2001 + quint32(i);
    config.deviceType = quint8(1 + i % 10);
    return config;
}

int upPorts(const QByteArray &text)
{
    int up = 0;
    for (const QByteArray &line : text.split('\n'))
        up += line.startsWith("vantorel_up{") && line.endsWith(" 1");
    return up;
}

// 32 unpaced loggers polled every second; cost and scrapes once all of them are up; then the soak.
void station(const QString &directory)
{
    constexpr int LOGGERS = 32;
    std::vector<std::unique_ptr<sim::PtyLogger>> loggers, others;
    QStringList links;
    for (int i = 0; i < LOGGERS; ++i) {
        loggers.push_back(std::make_unique<sim::PtyLogger>(directory + QStringLiteral("/ttySCRAPE%1").arg(i), loggerConfig(i)));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        links << loggers.back()->linkPath();
        // The logger that takes this one's place in a swap.
        others.push_back(std::make_unique<sim::PtyLogger>(links.back(), loggerConfig(i + 100)));
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    QProcess serve;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), links.join(QLatin1Char(':')));
    serve.setProcessEnvironment(env);
    serve.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    serve.start(QStringLiteral(VANTOREL_CLI), {QStringLiteral("serve"), QStringLiteral("--listen"), address,
                                               QStringLiteral("--interval"), QStringLiteral("1")});
    QNetworkAccessManager manager;
    const QString url = QStringLiteral("http://%1/metrics").arg(address);
    QElapsedTimer waiting;
    waiting.start();
    while (get(manager, url).count("vantorel_logger_info{") < LOGGERS && waiting.elapsed() < 120000)
        QThread::msleep(200);

    // Its cost over 30 s of polling, nothing else asked of it.
    const Usage before = usageOf(serve.processId());
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(30);
    const Usage after = usageOf(serve.processId());
    out << QStringLiteral("serve, %1 loggers at --interval 1: %2 % of one core, %3 (targets: under 10 %, under 100 MB)\n")
               .arg(LOGGERS).arg(100 * (after.cpuSeconds - before.cpuSeconds) / (clock.elapsed() / 1000.0), 0, 'f', 1)
               .arg(usageText(after));
    out.flush();

    constexpr int SCRAPES = 200;
    double total = 0, worst = 0;
    QByteArray text;
    for (int i = 0; i < SCRAPES; ++i) {
        QElapsedTimer scrape;
        scrape.start();
        text = get(manager, url);
        const double ms = scrape.nsecsElapsed() / 1e6;
        total += ms;
        worst = qMax(worst, ms);
    }
    out << QStringLiteral("scrape of /metrics with %1 loggers up (%2 bytes): mean %3 ms, worst %4 ms over %5 scrapes "
                          "(target: well under 50 ms)\n")
               .arg(text.count("vantorel_logger_info{")).arg(text.size()).arg(total / SCRAPES, 0, 'f', 2)
               .arg(worst, 0, 'f', 2).arg(SCRAPES);
    out.flush();

    const int soakS = qEnvironmentVariableIsSet("BENCH_SOAK_S") ? qEnvironmentVariableIntValue("BENCH_SOAK_S") : 180;
    // Seconds between plug events, from this to twice this: a short pause shows a leak per event sooner.
    const int plugS = qEnvironmentVariableIsSet("BENCH_PLUG_S") ? qMax(1, qEnvironmentVariableIntValue("BENCH_PLUG_S")) : 20;
    const Usage first = usageOf(serve.processId());
    out << QStringLiteral("soak of %1 s, first: %2\n").arg(soakS).arg(usageText(first));
    out.flush();
    QRandomGenerator random(7);
    std::vector<bool> swapped(LOGGERS, false);
    int replugs = 0, swaps = 0;
    QElapsedTimer soak;
    soak.start();
    qint64 shownAt = 0;
    while (soak.elapsed() < soakS * 1000LL) {
        QThread::msleep(plugS * 1000 + random.bounded(plugS * 1000));
        if (soak.elapsed() - shownAt >= 120000) {
            shownAt = soak.elapsed();
            out << QStringLiteral("soak at %1 s: %2 after %3 plug events\n").arg(shownAt / 1000).arg(usageText(usageOf(serve.processId())))
                       .arg(replugs + swaps);
            out.flush();
        }
        const int i = random.bounded(LOGGERS);
        const bool swap = random.bounded(2) == 1;
        if (swapped[i])
            others[i]->stop();
        else
            loggers[i]->unplug();
        QThread::msleep(50 + random.bounded(250));
        if (swap)
            swapped[i] = !swapped[i], ++swaps;
        else
            ++replugs;
        if (!swapped[i])
            loggers[i]->replug();
        else if (!others[i]->start())
            qFatal("simulated logger: %s", qPrintable(others[i]->errorString()));
    }
    QThread::sleep(5);
    const Usage last = usageOf(serve.processId());
    text = get(manager, url);
    out << QStringLiteral("soak, last: %1; %2 re-plugs, %3 swaps; loggers up at the end: %4 of %5\n")
               .arg(usageText(last)).arg(replugs).arg(swaps).arg(upPorts(text))
               .arg(LOGGERS);
    serve.terminate();
    serve.waitForFinished(10000);
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
    loggers.clear();
    out << "== serve on 32 loggers: cost, scrapes of /metrics, soak with re-plugs and swaps\n";
    out.flush();
    station(dir.path());
    return 0;
}
