// vantorel-logger-sim: a simulated data logger on a pseudo-terminal.

#include "ptylogger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <ctime>

#include <pthread.h>

namespace {

struct Options {
    QCommandLineParser parser;
    QString error;

    QString value(const char *name) const { return parser.value(QString::fromLatin1(name)); }
    bool isSet(const char *name) const { return parser.isSet(QString::fromLatin1(name)); }

    // Accepts decimal or 0x-prefixed numbers (base 16 when `hex`).
    template <typename T> void number(const char *name, T &target, bool hex = false, quint64 max = 0xFFFFFFFFull)
    {
        if (!isSet(name))
            return;
        bool ok = false;
        QString text = value(name);
        if (hex && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            text = text.mid(2);
        const qulonglong v = text.toULongLong(&ok, hex ? 16 : 0);
        if (!ok || v > max)
            error = QStringLiteral("invalid value for --%1: %2").arg(QLatin1String(name), value(name));
        else
            target = T(v);
    }
    void integer(const char *name, int &target)
    {
        if (!isSet(name))
            return;
        bool ok = false;
        const int v = value(name).toInt(&ok, 0);
        if (!ok)
            error = QStringLiteral("invalid value for --%1: %2").arg(QLatin1String(name), value(name));
        else
            target = v;
    }
    void real(const char *name, double &target)
    {
        if (!isSet(name))
            return;
        bool ok = false;
        const double v = value(name).toDouble(&ok);
        if (!ok || v < 0)
            error = QStringLiteral("invalid value for --%1: %2").arg(QLatin1String(name), value(name));
        else
            target = v;
    }
};

void addOption(QCommandLineParser &parser, const char *name, const char *description, const char *valueName = nullptr)
{
    if (valueName)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                                            QString::fromLatin1(valueName)));
    else
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description)));
}

void printRequests(const QList<sim::LoggedRequest> &requests)
{
    for (const sim::LoggedRequest &r : requests) {
        std::fprintf(stderr, "%s address %08x register %08x argument %u %s\n",
                     r.function == 7 ? "write" : "read ", r.deviceAddress, r.registerAddress,
                     unsigned(r.argument), r.answered ? "answered" : "not answered");
    }
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantorel-logger-sim"));

    Options o;
    QCommandLineParser &p = o.parser;
    p.setApplicationDescription(QStringLiteral(
        "A simulated data logger on a pseudo-terminal. Its slave is reachable under LINKPATH (a symbolic\n"
        "link); the path is printed on stdout and the logger answers until SIGINT or SIGTERM."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("LINKPATH"), QStringLiteral("Path of the symbolic link to create."));
    addOption(p, "type", "Device type code, 1..10 (others: unknown type). Default 3.", "code");
    addOption(p, "address", "Logger address, hexadecimal. Default 1234.", "hex");
    addOption(p, "version", "Version number. Default 12.", "n");
    addOption(p, "memory-code", "Memory size code: 4 = 256 KiB, else 128 KiB. Default 2.", "code");
    addOption(p, "period-code", "Recording period code, 0..13. Default 7 (60 s).", "code");
    addOption(p, "start", "Campaign start, ISO date-time (logger clock). Default 2026-11-26T16:52:00.", "datetime");
    addOption(p, "used-bytes", "Bytes of records written (24 bits; past the memory size it wraps). Default 600.", "n");
    addOption(p, "records", "Records written: used bytes = N x record size.", "n");
    addOption(p, "calibration-a", "Calibration word A. Default 0x0F00.", "n");
    addOption(p, "calibration-b", "Calibration word B. Default 0x2000.", "n");
    addOption(p, "battery", "Battery code. Default 4.", "code");
    addOption(p, "seed", "Seed of the records, live values and faults. Default 1.", "n");
    addOption(p, "time-scale", "Simulated seconds per real second; 0 freezes the clock. Default 1.", "x");
    addOption(p, "sleep-after-ms", "Falls asleep after that long without a request; 0 never. Default 0.", "ms");
    addOption(p, "wake-run", "Run of 0xFF bytes that wakes a sleeping logger. Default 40.", "n");
    addOption(p, "baud", "Paces the line at that rate, 10 bits a byte; 0 answers at once. Default 0.", "rate");
    addOption(p, "latency-us", "Pause between a request and its answer. Default 0.", "us");
    addOption(p, "corrupt-rate", "Share of answer bytes with one bit flipped, 0..1.", "x");
    addOption(p, "drop-rate", "Share of answers never sent, 0..1.", "x");
    addOption(p, "noise-rate", "Share of answers preceded by noise bytes, 0..1.", "x");
    addOption(p, "noise-bytes", "Noise bytes before such an answer. Default 8.", "n");
    addOption(p, "split", "Sends answers in chunks of that many bytes.", "n");
    addOption(p, "chunk-gap-us", "Pause between those chunks.", "us");
    addOption(p, "wrong-block-rate", "Share of read answers with one block too few or too many, 0..1.", "x");
    addOption(p, "sleep-rate", "Share of requests after which the logger falls asleep, 0..1.", "x");
    addOption(p, "silent", "Answers nothing at all.");
    addOption(p, "unplug-after", "Removes the link after answering that many requests.", "n");
    addOption(p, "replug-after-ms", "And brings it back on a new pty that long after.", "ms");
    addOption(p, "log", "Prints each request received on stderr.");
    p.process(app);

    const QStringList positional = p.positionalArguments();
    if (positional.size() != 1) {
        std::fprintf(stderr, "%s\n", qPrintable(p.helpText()));
        return 2;
    }

    sim::LoggerConfig config;
    sim::FaultConfig faults;
    sim::LineConfig line;
    o.number("type", config.deviceType, false, 0xFF);
    o.number("address", config.address, true);
    o.number("version", config.version, false, 0xFF);
    o.number("memory-code", config.memorySizeCode, false, 0xFF);
    o.number("period-code", config.periodCode, false, 0xFF);
    if (o.isSet("start")) {
        const QDateTime start = QDateTime::fromString(o.value("start"), Qt::ISODate);
        if (!start.isValid())
            o.error = QStringLiteral("invalid value for --start: ") + o.value("start");
        // The logger clock has no zone: the fields are taken as written.
        config.startTime = QDateTime(start.date(), start.time(), Qt::UTC);
    }
    o.number("used-bytes", config.usedBytes, false, 0xFFFFFF);
    if (o.isSet("records")) {
        quint32 records = 0;
        o.number("records", records, false, 0xFFFFFF);
        const quint32 size = (config.deviceType == 3 || config.deviceType == 6 || config.deviceType == 7
                              || config.deviceType == 10) ? 4 : 2;
        config.usedBytes = qMin<quint32>(records * size, 0xFFFFFF);
    }
    o.number("calibration-a", config.calibrationA, false, 0xFFFF);
    o.number("calibration-b", config.calibrationB, false, 0xFFFF);
    o.number("battery", config.batteryCode, false, 0xFF);
    o.number("seed", config.seed);
    o.real("time-scale", config.timeScale);
    o.integer("sleep-after-ms", config.sleepAfterIdleMs);
    o.integer("wake-run", config.wakeRunLength);
    o.integer("baud", line.baudRate);
    o.integer("latency-us", line.answerLatencyUs);
    o.real("corrupt-rate", faults.corruptByteRate);
    o.real("drop-rate", faults.dropAnswerRate);
    o.real("noise-rate", faults.noiseRate);
    o.integer("noise-bytes", faults.noiseBytes);
    o.integer("split", faults.splitChunk);
    o.integer("chunk-gap-us", faults.chunkGapUs);
    o.real("wrong-block-rate", faults.wrongBlockRate);
    o.real("sleep-rate", faults.sleepRate);
    faults.silent = o.isSet("silent");
    o.integer("unplug-after", faults.unplugAfterRequests);
    o.integer("replug-after-ms", faults.replugAfterMs);
    if (!o.error.isEmpty()) {
        std::fprintf(stderr, "vantorel-logger-sim: %s\n", qPrintable(o.error));
        return 2;
    }

    // The answering thread inherits the mask, so only sigtimedwait below sees the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::PtyLogger logger(positional.first(), config, faults, line);
    if (!logger.start()) {
        std::fprintf(stderr, "vantorel-logger-sim: %s\n", qPrintable(logger.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(QFileInfo(logger.linkPath()).absoluteFilePath()));
    std::fflush(stdout);

    const bool log = o.isSet("log");
    const timespec tick{0, 100'000'000};
    for (;;) {
        if (sigtimedwait(&stopSignals, nullptr, &tick) > 0)
            break;
        if (log) {
            QList<sim::LoggedRequest> requests;
            logger.withLogger([&](sim::SimulatedLogger &l) {
                requests = l.requests();
                l.clearRequests();
            });
            printRequests(requests);
        }
    }
    logger.stop();
    return 0;
}
