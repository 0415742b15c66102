// vantorel-cli read of several loggers at once: four loggers with a full 128 KiB memory on
// four simulated ports paced at 115200 bit/s, read with one command, against one of them
// read alone the same way. Target: the four in at most 1.15 times the time of one.
// Then vantorel-cli serve on eight loggers: the time of a scrape of /metrics (target: well
// under 50 ms).

#include "ptylogger.h"

#include <QCoreApplication>
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

QByteArray get(QNetworkAccessManager &manager, const QString &url)
{
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

// Eight unpaced loggers polled every second; scrapes timed once all of them are up.
void scrapeTimes(const QString &directory)
{
    std::vector<std::unique_ptr<sim::PtyLogger>> loggers;
    QStringList links;
    for (int i = 0; i < 8; ++i) {
        sim::LoggerConfig config;
        config.address = 0x2001 + quint32(i);
        config.deviceType = quint8(1 + i % 10);
        loggers.push_back(std::make_unique<sim::PtyLogger>(directory + QStringLiteral("/ttySCRAPE%1").arg(i), config));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        links << loggers.back()->linkPath();
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    QProcess serve;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), links.join(QLatin1Char(':')));
    serve.setProcessEnvironment(env);
    serve.start(QStringLiteral(VANTOREL_CLI), {QStringLiteral("serve"), QStringLiteral("--listen"), address,
                                               QStringLiteral("--interval"), QStringLiteral("1")});
    QNetworkAccessManager manager;
    const QString url = QStringLiteral("http://%1/metrics").arg(address);
    QElapsedTimer waiting;
    waiting.start();
    while (get(manager, url).count("vantorel_logger_info{") < 8 && waiting.elapsed() < 60000)
        QThread::msleep(200);
    constexpr int SCRAPES = 200;
    double total = 0, worst = 0;
    QByteArray text;
    for (int i = 0; i < SCRAPES; ++i) {
        QElapsedTimer clock;
        clock.start();
        text = get(manager, url);
        const double ms = clock.nsecsElapsed() / 1e6;
        total += ms;
        worst = qMax(worst, ms);
    }
    serve.terminate();
    serve.waitForFinished(10000);
    out << QStringLiteral("scrape of /metrics with %1 loggers up (%2 bytes): mean %3 ms, worst %4 ms over %5 scrapes "
                          "(target: well under 50 ms)\n")
               .arg(text.count("vantorel_logger_info{")).arg(text.size()).arg(total / SCRAPES, 0, 'f', 2)
               .arg(worst, 0, 'f', 2).arg(SCRAPES);
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
    out << "== serve on eight loggers: scrapes of /metrics\n";
    out.flush();
    scrapeTimes(dir.path());
    return 0;
}
