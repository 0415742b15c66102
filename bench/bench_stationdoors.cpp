// vantorel-cli serve under a slow-client load: 100 clients each sending one header byte a
// second and one client sending a 100 MiB header, while /metrics is scraped every 200 ms.
// Targets: a scrape answers in under 50 ms, the station grows by less than 30 MB, every slow
// connection is closed within 10 s.

#include "ptylogger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
    return m.captured(1).toLongLong();
}

// Milliseconds from connecting to the station having answered and closed; -1 without a 200.
double scrape(quint16 port, QByteArray *body = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return -1;
    socket.write("GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    answer += socket.readAll();
    const double ms = clock.nsecsElapsed() / 1e6;
    if (body)
        *body = answer;
    return answer.startsWith("HTTP/1.1 200 ") ? ms : -1;
}

void pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString figures(std::vector<double> ms)
{
    if (ms.empty())
        return QStringLiteral("none");
    std::sort(ms.begin(), ms.end());
    return QStringLiteral("median %1 ms, worst %2 ms over %3 scrapes")
        .arg(ms[ms.size() / 2], 0, 'f', 2).arg(ms.back(), 0, 'f', 2).arg(ms.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::vector<std::unique_ptr<sim::PtyLogger>> loggers;
    QStringList links;
    for (int i = 0; i < 4; ++i) {
        sim::LoggerConfig config;
        config.address = 0x11111 * quint32(i + 1);
        loggers.push_back(std::make_unique<sim::PtyLogger>(dir.filePath(QStringLiteral("tty%1").arg(i)), config));
        if (!loggers.back()->start())
            qFatal("simulated logger: %s", qPrintable(loggers.back()->errorString()));
        links << loggers.back()->linkPath();
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess serve;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), links.join(QLatin1Char(':')));
    serve.setProcessEnvironment(env);
    serve.setWorkingDirectory(dir.path());
    serve.start(QStringLiteral(VANTOREL_CLI), {"serve", "--no-archive", "--interval", "1", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    serve.waitForStarted();
    QByteArray body;
    QElapsedTimer startup;
    startup.start();
    while (body.count("} 1\n") < 4 && startup.elapsed() < 60000) {
        pause(500);
        scrape(port, &body);
    }
    if (body.count("vantorel_up{") < 4)
        qFatal("the station did not find its four loggers");

    std::vector<double> quiet;
    for (int i = 0; i < 50; ++i)
        quiet.push_back(scrape(port));
    const qint64 before = residentKiB(serve.processId());

    // The load.
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    std::vector<qint64> closedAt(100, -1);
    QElapsedTimer since;
    since.start();
    for (int i = 0; i < 100; ++i) {
        slow.push_back(std::make_unique<QTcpSocket>());
        QObject::connect(slow.back().get(), &QAbstractSocket::disconnected, [&closedAt, &since, i] { closedAt[i] = since.elapsed(); });
        slow.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    const QByteArray slowRequest = "GET /metrics HTTP/1.1\r\nHost: station\r\nX-Slow: ";
    int sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (auto &s : slow)
            if (s->state() == QAbstractSocket::ConnectedState)
                s->write(slowRequest.mid(sent % slowRequest.size(), 1));
        ++sent;
    });
    drip.start(1000);
    QTcpSocket huge;
    qint64 pushed = 0, hugeClosedAt = -1;
    QByteArray hugeAnswer;
    const QByteArray chunk(1 << 20, 'h');
    QObject::connect(&huge, &QIODevice::bytesWritten, [&] {
        while (huge.bytesToWrite() < 2 * chunk.size() && pushed < 100 * chunk.size()) {
            huge.write(chunk);
            pushed += chunk.size();
        }
    });
    QObject::connect(&huge, &QIODevice::readyRead, [&] { hugeAnswer += huge.readAll(); });
    QObject::connect(&huge, &QAbstractSocket::disconnected, [&] { hugeClosedAt = since.elapsed(); });
    huge.connectToHost(QHostAddress::LocalHost, port);
    huge.write("GET /metrics HTTP/1.1\r\nX-Huge: ");

    std::vector<double> loaded;
    qint64 peak = before;
    int failed = 0;
    while (since.elapsed() < 12000) {
        pause(200);
        const double ms = scrape(port);
        ms < 0 ? void(++failed) : loaded.push_back(ms);
        peak = std::max(peak, residentKiB(serve.processId()));
    }
    const qint64 atOnce = std::count_if(closedAt.begin(), closedAt.end(), [](qint64 t) { return t >= 0 && t < 4000; });
    const qint64 last = *std::max_element(closedAt.begin(), closedAt.end());
    const bool allClosed = std::none_of(closedAt.begin(), closedAt.end(), [](qint64 t) { return t < 0; });

    out << "scrape of /metrics, 4 loggers up (" << body.size() << " bytes), no load: " << figures(quiet) << "\n";
    out << "scrape under the load (100 slow clients, one 100 MiB header): " << figures(loaded) << ", " << failed << " failed\n";
    out << "resident memory: " << before / 1024.0 << " MiB before, peak " << peak / 1024.0 << " MiB: growth "
        << (peak - before) / 1024.0 << " MiB\n";
    out << "slow clients: " << atOnce << " closed before the 5 s limit (giving way over the cap of 64), "
        << (allClosed ? QStringLiteral("all closed, the last after %1 s").arg(last / 1000.0) : QStringLiteral("NOT all closed")) << "\n";
    out << "100 MiB header: " << pushed / 1048576 << " MiB pushed, answer \"" << hugeAnswer.left(hugeAnswer.indexOf('\r'))
        << "\", closed after " << hugeClosedAt / 1000.0 << " s\n";
    serve.terminate();
    serve.waitForFinished(10000);
    return 0;
}
