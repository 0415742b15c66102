// The link at work: a full download of the record memory against the simulated logger
// paced at 115200 bit/s (compared with the wire time of the bytes exchanged), the same on
// an unpaced line (the program's own cost), vantorel-cli's "read" on the paced line, and a
// minute of once-a-second polling. With the argument "cli" only vantorel-cli's figures; with
// "repeat" only the repeat download through the archive (a 128 KiB logger read once, then
// again 60 records later) against a full read of the same memory.

#include "mainwindow.h"
#include "manageserialport.h"
#include "ptylogger.h"
#include "statusdisplay.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

namespace {

QTextStream out(stdout);

// CPU time of the calling (GUI) thread: the simulated logger has its own thread.
double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct DownloadFigures {
    int transactions = 0;
    int failures = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double wireSeconds = 0;
};

// The read-out loop of "Read Data": 64 bytes a request, a progress value after each.
DownloadFigures download(const QString &dir, quint8 memoryCode, int baudRate)
{
    const quint32 size = memoryCode == 4 ? 0x40000 : 0x20000;
    sim::LoggerConfig config;
    config.deviceType = 1;
    config.memorySizeCode = memoryCode;
    config.usedBytes = size;
    config.timeScale = 0;
    sim::LineConfig line;
    line.baudRate = baudRate;
    sim::PtyLogger logger(dir + QStringLiteral("/ttyBENCH"), config, sim::FaultConfig(), line);
    if (!logger.start())
        qFatal("simulated logger: %s", qPrintable(logger.errorString()));

    ManageSerialPort port;
    if (!port.openPort(logger.linkPath()))
        qFatal("cannot open %s", qPrintable(logger.linkPath()));
    port.wakeUpDevice();

    QProgressDialog progress(QStringLiteral("Data transfer in progress..."), QStringLiteral("Cancel"), 0, 100);
    progress.setMinimumDuration(0);
    progress.show();

    const auto bytesOnLine = [&] {
        return logger.read<quint64>([](sim::SimulatedLogger &l) { return l.bytesReceived() + l.bytesSent(); });
    };
    DownloadFigures f;
    const quint64 bytesBefore = bytesOnLine();
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (quint32 offset = 0; offset < size;) {
        ++f.transactions;
        if (!port.readBlocksRetry(config.address, 0x02000000 + offset, 8, 5)) {
            ++f.failures;
            continue;
        }
        offset += 64;
        progress.setValue(int(quint64(offset) * 100 / size));
    }
    f.wallSeconds = double(clock.nsecsElapsed()) / 1e9;
    f.cpuSeconds = threadCpuSeconds() - cpuBefore;
    f.wireSeconds = double(bytesOnLine() - bytesBefore) * 10.0 / 115200.0;
    return f;
}

void printDownload(const char *name, const DownloadFigures &f, bool paced)
{
    out << name << ": " << f.transactions << " transactions (" << f.failures << " failed), "
        << fixedText(f.wallSeconds, 2) << " s wall, " << fixedText(f.cpuSeconds, 2)
        << " s CPU, per transaction " << fixedText(f.wallSeconds / f.transactions * 1e6, 0) << " us wall and "
        << fixedText(f.cpuSeconds / f.transactions * 1e6, 0) << " us CPU";
    if (paced)
        out << ", wire time " << fixedText(f.wireSeconds, 2) << " s, ratio "
            << fixedText(f.wallSeconds / f.wireSeconds, 3);
    out << Qt::endl;
}

// vantorel-cli read, the whole command (process start, wake-ups, status, read-out, file)
// against the wire time of every byte it exchanged.
DownloadFigures cliRead(const QString &dir, quint8 memoryCode)
{
    sim::LoggerConfig config;
    config.deviceType = 1;
    config.memorySizeCode = memoryCode;
    config.usedBytes = memoryCode == 4 ? 0x40000 : 0x20000;
    config.timeScale = 0;
    sim::LineConfig line;
    line.baudRate = 115200;
    sim::PtyLogger logger(dir + QStringLiteral("/ttyCLI"), config, sim::FaultConfig(), line);
    if (!logger.start())
        qFatal("simulated logger: %s", qPrintable(logger.errorString()));
    const auto bytesOnLine = [&] {
        return logger.read<quint64>([](sim::SimulatedLogger &l) { return l.bytesReceived() + l.bytesSent(); });
    };
    const auto childCpuSeconds = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    DownloadFigures f;
    f.transactions = int(config.usedBytes / 64);
    const quint64 bytesBefore = bytesOnLine();
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess cli;
    cli.start(QStringLiteral(VANTOREL_CLI),
              {QStringLiteral("read"), QStringLiteral("--port"), logger.linkPath(), QStringLiteral("-o"), dir + QStringLiteral("/cli.tsv")});
    if (!cli.waitForFinished(600000) || cli.exitCode() != 0)
        qFatal("vantorel-cli read failed: %s", cli.readAllStandardError().constData());
    f.wallSeconds = double(clock.nsecsElapsed()) / 1e9;
    f.cpuSeconds = childCpuSeconds() - cpuBefore;
    f.wireSeconds = double(bytesOnLine() - bytesBefore) * 10.0 / 115200.0;
    return f;
}

void printCli(const DownloadFigures &cli128, const DownloadFigures &cli256)
{
    out << "vantorel-cli read, 115200 bit/s, whole command:" << Qt::endl;
    for (const auto &[name, f] : {std::make_pair("128 KiB", cli128), std::make_pair("256 KiB", cli256)})
        out << "  " << name << ": " << fixedText(f.wallSeconds, 2) << " s wall for " << fixedText(f.wireSeconds, 2)
            << " s of wire time, ratio " << fixedText(f.wallSeconds / f.wireSeconds, 3) << " (target <= 1.050), "
            << fixedText(f.cpuSeconds, 2) << " s CPU" << Qt::endl;
}

// vantorel-cli read through an archive of its own: the first read of a full 128 KiB logger,
// then the second 60 records later (only the new blocks), then a full read without the
// archive, whose file the second read's must equal byte for byte.
struct RepeatFigures {
    double firstSeconds = 0, secondSeconds = 0, fullSeconds = 0;
    bool identical = false;
    QByteArray secondMessages;
};

RepeatFigures repeatRead(const QString &dir)
{
    sim::LoggerConfig config;
    config.deviceType = 1;
    config.usedBytes = 0x20000 - 60;    // nearly full: the new records wrap around
    config.timeScale = 0;
    sim::LineConfig line;
    line.baudRate = 115200;
    sim::PtyLogger logger(dir + QStringLiteral("/ttyREPEAT"), config, sim::FaultConfig(), line);
    if (!logger.start())
        qFatal("simulated logger: %s", qPrintable(logger.errorString()));
    const auto timedRead = [&](const QString &file, const QStringList &extra, QByteArray *messages = nullptr) {
        QElapsedTimer clock;
        clock.start();
        QProcess cli;
        cli.start(QStringLiteral(VANTOREL_CLI), QStringList{QStringLiteral("read"), QStringLiteral("--port"), logger.linkPath(),
                                                            QStringLiteral("-o"), dir + QLatin1Char('/') + file} + extra);
        if (!cli.waitForFinished(600000) || cli.exitCode() != 0)
            qFatal("vantorel-cli read failed: %s", cli.readAllStandardError().constData());
        if (messages)
            *messages = cli.readAllStandardError();
        return double(clock.nsecsElapsed()) / 1e9;
    };
    const QStringList archive = {QStringLiteral("--archive"), dir + QStringLiteral("/repeat.sqlite")};
    RepeatFigures f;
    f.firstSeconds = timedRead(QStringLiteral("first.tsv"), archive);
    logger.withLogger([](sim::SimulatedLogger &l) { l.addRecords(60); });
    f.secondSeconds = timedRead(QStringLiteral("second.tsv"), archive, &f.secondMessages);
    f.fullSeconds = timedRead(QStringLiteral("full.tsv"), {QStringLiteral("--no-archive")});
    const auto contents = [&](const QString &name) {
        QFile file(dir + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    f.identical = !contents(QStringLiteral("full.tsv")).isEmpty() && contents(QStringLiteral("second.tsv")) == contents(QStringLiteral("full.tsv"));
    return f;
}

void printRepeat(const RepeatFigures &f)
{
    out << "vantorel-cli read through the archive, 128 KiB at 115200 bit/s, whole command:" << Qt::endl
        << "  first read " << fixedText(f.firstSeconds, 2) << " s; 60 records later: second read "
        << fixedText(f.secondSeconds, 2) << " s (target < 1.0 s), full read " << fixedText(f.fullSeconds, 2)
        << " s; second file " << (f.identical ? "identical to" : "DIFFERENT from") << " the full read's" << Qt::endl
        << "  " << QString::fromLocal8Bit(f.secondMessages).trimmed().replace(QLatin1Char('\n'), QStringLiteral("\n  ")) << Qt::endl;
}

struct PollingFigures {
    int refreshes = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

// The main window polling a logger once a second, as it does while the user watches.
PollingFigures polling(const QString &dir, int seconds)
{
    sim::LoggerConfig config;
    config.deviceType = 3;
    config.timeScale = 1;
    sim::PtyLogger logger(dir + QStringLiteral("/ttyPOLL"), config);
    if (!logger.start())
        qFatal("simulated logger: %s", qPrintable(logger.errorString()));
    QFile ini(dir + QStringLiteral("/config.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        qFatal("cannot write config.ini");
    ini.write("[COM]\nCOM_PORT=" + logger.linkPath().toLocal8Bit() + "\n");
    ini.close();

    const auto identityReads = [&] {
        return logger.read<int>([](sim::SimulatedLogger &l) {
            int n = 0;
            for (const sim::LoggedRequest &r : l.requests())
                n += r.registerAddress == 0x01000000;
            return n;
        });
    };
    PollingFigures f;
    MainWindow window;
    window.show();
    QElapsedTimer settle;
    settle.start();
    while (identityReads() < 1 && settle.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    const int before = identityReads();
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    f.seconds = double(clock.elapsed()) / 1000.0;
    f.cpuSeconds = threadCpuSeconds() - cpuBefore;
    f.refreshes = identityReads() - before;
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int pollSeconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 60;

    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());   // the default archive, not the user's

    if (argc > 1 && qstrcmp(argv[1], "repeat") == 0) {
        printRepeat(repeatRead(dir.path()));
        return 0;
    }

    const DownloadFigures cli128 = cliRead(dir.path(), 2);
    const DownloadFigures cli256 = cliRead(dir.path(), 4);
    if (argc > 1 && qstrcmp(argv[1], "cli") == 0) {
        printCli(cli128, cli256);
        return 0;
    }
    const DownloadFigures unpaced128 = download(dir.path(), 2, 0);
    const DownloadFigures unpaced256 = download(dir.path(), 4, 0);
    const DownloadFigures paced128 = download(dir.path(), 2, 115200);
    const DownloadFigures paced256 = download(dir.path(), 4, 115200);
    const PollingFigures poll = polling(dir.path(), pollSeconds);
    QDir::setCurrent(previous);

    out << "download, unpaced line:" << Qt::endl;
    printDownload("  128 KiB", unpaced128, false);
    printDownload("  256 KiB", unpaced256, false);
    out << "download, 115200 bit/s:" << Qt::endl;
    printDownload("  128 KiB", paced128, true);
    printDownload("  256 KiB", paced256, true);
    out << "polling: " << poll.refreshes << " refreshes in " << fixedText(poll.seconds, 1) << " s, "
        << fixedText(poll.cpuSeconds / qMax(1, poll.refreshes) * 1e3, 2) << " ms CPU per refresh, "
        << fixedText(poll.cpuSeconds / poll.seconds * 100, 2) << " % of one core" << Qt::endl;
    out << "program cost per 8-block transaction (unpaced, 128 KiB): "
        << fixedText(unpaced128.wallSeconds / unpaced128.transactions * 1e6, 0) << " us wall, "
        << fixedText(unpaced128.cpuSeconds / unpaced128.transactions * 1e6, 0)
        << " us CPU (target < 200 us)" << Qt::endl;
    out << "CPU time of the whole download: unpaced 128 KiB " << fixedText(unpaced128.cpuSeconds, 2)
        << " s, paced 128 KiB " << fixedText(paced128.cpuSeconds, 2) << " s of "
        << fixedText(paced128.wallSeconds, 1) << " s" << Qt::endl;
    out << "wire-time ratio: 128 KiB " << fixedText(paced128.wallSeconds / paced128.wireSeconds, 3)
        << ", 256 KiB " << fixedText(paced256.wallSeconds / paced256.wireSeconds, 3)
        << " (target <= 1.050)" << Qt::endl;
    printCli(cli128, cli256);
    printRepeat(repeatRead(dir.path()));
    return 0;
}
