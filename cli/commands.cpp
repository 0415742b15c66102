// ports, status, live, read and start.

#include "cli.h"

#include "campaigndownload.h"
#include "archiveoptions.h"
#include "clock.h"
#include "codecs.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "loggerdevice.h"
#include "outputfile.h"
#include "periods.h"
#include "portwatcher.h"
#include "session.h"
#include "statusdisplay.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace Cli {

namespace {

QJsonObject statusJson(const QString &port, const LoggerStatus &s, const Device::LiveOutcome &live)
{
    const int period = periodSeconds(s.periodCode);
    return QJsonObject{
        {QStringLiteral("port"), port},
        {QStringLiteral("address"), double(s.address)},
        {QStringLiteral("serialNumber"), formatDeviceAddress(s.address)},
        {QStringLiteral("deviceType"), s.deviceType},
        {QStringLiteral("typeName"), textOrNull(screenNameOf(s.deviceType))},
        {QStringLiteral("version"), s.version},
        {QStringLiteral("periodCode"), s.periodCode},
        {QStringLiteral("period"), textOrNull(periodLabel(s.periodCode))},
        {QStringLiteral("periodSeconds"), period ? QJsonValue(period) : QJsonValue()},
        {QStringLiteral("startTime"), loggerTimeJson(s.startTime)},
        {QStringLiteral("loggerTime"), loggerTimeJson(s.loggerTime)},
        {QStringLiteral("records"), double(s.storedRecords())},
        {QStringLiteral("usedBytes"), double(s.usedBytes)},
        {QStringLiteral("memoryBytes"), double(memorySizeFor(s.memorySizeCode))},
        {QStringLiteral("freeMemoryPercent"), double(s.freeMemoryPercent)},
        {QStringLiteral("batteryCode"), live.batteryRead ? QJsonValue(s.batteryCode) : QJsonValue()},
        {QStringLiteral("battery"), live.batteryRead ? QJsonValue(batteryName(s.batteryCode)) : QJsonValue()},
        {QStringLiteral("live"), liveJson(liveValues(s, live.answers))},
    };
}

// Waits in the event loop, in short steps so that an interruption is seen at once.
void pause(qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!interrupted() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(100, ms - clock.elapsed())), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

int periodCodeNamed(const QString &name)
{
    const int index = periodNames().indexOf(name);
    return index < 0 ? -1 : comboIndexToPeriodCode(index);
}

bool confirmed(const QString &question)
{
    std::fputs(qPrintable(question + QStringLiteral(" [y/N] ")), stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer) || interrupted())
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

// How much of the download was new, and how it was read, for the line that ends it.
QString newPart(const Archive::ReadReport &report)
{
    return report.incremental
        ? QStringLiteral("%1 new since the last download, %2 bytes read").arg(report.newRecords).arg(report.bytesRead)
        : QStringLiteral("%1 new, the whole memory read: %2").arg(report.newRecords).arg(report.whyFull);
}

// The export file, opened before the logger is asked for its memory, so that a target that
// cannot be written is said at once and no download is thrown away.
int openOutput(std::unique_ptr<OutputFile> &out, const QString &target)
{
    if (target == QLatin1String("-"))
        binaryStandardOutput();
    out = std::make_unique<OutputFile>(target);
    return out->open(QIODevice::WriteOnly) ? Success : fail(FileError, QStringLiteral("cannot write ") + out->errorMessage());
}

// The progress on a terminal, and a word before each new round of wake-ups.
Archive::DownloadCallbacks readCallbacks()
{
    const bool showProgress = isTerminal(2);
    Archive::DownloadCallbacks callbacks;
    if (showProgress)
        callbacks.progress = [](quint32 done, quint32 total) {
            std::fprintf(stderr, "\rreading the record memory: %u of %u bytes", unsigned(qMin(done, total)), unsigned(total));
        };
    callbacks.cancelled = &interrupted;
    callbacks.retrying = [showProgress](quint32 failedAt) {
        if (showProgress)
            std::fputc('\n', stderr);
        message(QStringLiteral("no answer for the block at byte %1: waking the logger and trying again").arg(failedAt));
        return true;
    };
    return callbacks;
}

int readFailure(const Archive::CampaignDownload &done, const OutputFile &out)
{
    switch (done.outcome) {
    case Archive::FileOutcome::Written: break;
    case Archive::FileOutcome::FileFailed: return fail(FileError, QStringLiteral("cannot write ") + done.error);
    case Archive::FileOutcome::LineFailed: return fail(Failure, done.error);
    case Archive::FileOutcome::Interrupted:
        return fail(Failure, out.target() == QLatin1String("-") ? QStringLiteral("interrupted") : done.error);
    }
    return Success;
}

} // namespace

int ports(const QCommandLineParser &args)
{
    if (args.isSet(QStringLiteral("probe")))
        return probePorts(args);
    const QStringList names = PortWatcher::availablePortNames();
    const QList<PortChoice> choices = PortWatcher::stationChoices(args.values(portOption()));
    if (args.isSet(jsonOption())) {
        QJsonArray station;
        for (const PortChoice &c : choices)
            station.append(QJsonObject{{QStringLiteral("port"), c.name}, {QStringLiteral("used"), c.used}, {QStringLiteral("why"), c.why}});
        writeJson(QJsonObject{{QStringLiteral("ports"), QJsonArray::fromStringList(names)}, {QStringLiteral("station"), station}});
        return Success;
    }
    // Every port, then whether serve, read --all and ports --probe would open it, and why.
    for (const PortChoice &c : choices)
        writeOut((c.name + QLatin1Char('\t') + (c.used ? QStringLiteral("used") : QStringLiteral("not used")) + QLatin1Char('\t')
                  + c.why + QLatin1Char('\n')).toUtf8());
    return Success;
}

int status(const QCommandLineParser &args)
{
    Session session;
    LoggerStatus s;
    if (int code = session.begin(args, s))
        return code;
    const Device::LiveOutcome live = Device::readLive(session.port(), s);
    if (args.isSet(jsonOption())) {
        writeJson(statusJson(session.portName(), s, live));
        return Success;
    }
    const StatusTexts t = statusTexts(s);
    const QStringList lines = {
        QStringLiteral("Type:          ") + (live.knownType ? screenNameOf(s.deviceType) : QStringLiteral("unknown (%1)").arg(s.deviceType)),
        QStringLiteral("Serial number: ") + formatDeviceAddress(s.address),
        QStringLiteral("Version:       ") + t.version,
        QStringLiteral("Period:        ") + t.period,
        QStringLiteral("Start time:    ") + t.startTime,
        QStringLiteral("Logger time:   ") + t.loggerTime,
        QStringLiteral("Records:       ") + t.storedRecords,
        QStringLiteral("Free memory:   ") + t.freeMemory,
        QStringLiteral("Battery:       ") + (live.batteryRead ? batteryName(s.batteryCode) : QStringLiteral("-")),
        QStringLiteral("Live reading:  ") + liveLine(liveReadingText(s, live.answers, QStringLiteral("-"))),
    };
    writeOut((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return Success;
}

int live(const QCommandLineParser &args)
{
    bool intervalOk = false, countOk = false;
    const double interval = args.value(QStringLiteral("interval")).toDouble(&intervalOk);
    const int count = args.value(QStringLiteral("count")).toInt(&countOk);
    if (!intervalOk || interval < 0 || !countOk || count < 0)
        return fail(Usage, QStringLiteral("--interval takes seconds (0 or more), --count a whole number (0 for no end)"));
    Session session;
    if (int code = session.open(args))
        return code;
    QElapsedTimer clock;
    for (int n = 0; count == 0 || n < count; ++n) {
        if (n > 0)
            pause(qint64(interval * 1000) - clock.elapsed());
        if (interrupted())
            break;
        clock.start();
        LoggerStatus s;
        if (int code = session.readStatus(s))
            return code;
        const Device::LiveOutcome reading = Device::readLive(session.port(), s);
        if (args.isSet(jsonOption())) {
            writeJson(QJsonObject{{QStringLiteral("serialNumber"), formatDeviceAddress(s.address)},
                                  {QStringLiteral("loggerTime"), loggerTimeJson(s.loggerTime)},
                                  {QStringLiteral("live"), liveJson(liveValues(s, reading.answers))}});
        } else {
            const QString time = s.loggerTime.isValid() ? s.loggerTime.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QStringLiteral("-");
            writeOut((time + QLatin1Char('\t') + liveLine(liveReadingText(s, reading.answers, QStringLiteral("-"))) + QLatin1Char('\n')).toUtf8());
        }
    }
    return Success;
}

int read(const QCommandLineParser &args)
{
    if (isStationRead(args))
        return readMany(args);
    Archive::Location location;
    if (int code = archiveLocation(args, &location))
        return code;
    // A target given is checked before the logger is asked; the proposed name needs its serial number.
    std::unique_ptr<OutputFile> out;
    const QString target = args.value(QStringLiteral("output"));
    if (!target.isEmpty())
        if (int code = openOutput(out, target))
            return code;
    Session session;
    LoggerStatus s;
    if (int code = session.begin(args, s))
        return code;
    if (!out)
        if (int code = openOutput(out, proposedExportFileName(s.address, Clock::now())))
            return code;
    const Archive::CampaignDownload done = Archive::downloadCampaign(
        session.port(), s, *out, location, nullptr, Archive::DownloadPolicy{args.isSet(QStringLiteral("full"))}, readCallbacks());
    if (isTerminal(2))
        std::fputc('\n', stderr);   // ends the progress line
    if (int code = readFailure(done, *out))
        return code;
    message(QStringLiteral("%1 records written to %2 (%3)").arg(done.records)
                .arg(out->target() == QLatin1String("-") ? done.file : out->target(), newPart(done.read)));
    if (!done.archiveError.isEmpty())
        return fail(Failure, QStringLiteral("the export file was written, but the archive step failed: ") + done.archiveError);
    return Success;
}

int start(const QCommandLineParser &args)
{
    const QString periodName = args.value(QStringLiteral("period"));
    const int periodCode = periodCodeNamed(periodName);
    if (periodCode < 0)
        return fail(Usage, QStringLiteral("--period takes one of ") + periodNames().join(QStringLiteral(", ")));
    const bool ask = !args.isSet(QStringLiteral("yes"));
    if (ask && !isTerminal(0))
        return fail(Usage, QStringLiteral("start erases the logger's memory: add --yes to confirm when not on a terminal"));

    Archive::Location location;
    if (int code = archiveLocation(args, &location))
        return code;
    Session session;
    LoggerStatus s;
    if (int code = session.begin(args, s))
        return code;
    Device::readLive(session.port(), s);   // the window shows the status before it asks
    const QString logger = formatDeviceAddress(s.address);
    if (ask && !confirmed(QStringLiteral("Erase the %1 records of logger %2 and start a new campaign at %3?")
                              .arg(statusTexts(s).storedRecords, logger, periodName)))
        return fail(Failure, QStringLiteral("nothing was changed"));
    QDateTime startTime;
    if (!Device::programNewCampaign(session.port(), s, periodCode, &startTime))
        return fail(Failure, QStringLiteral("logger %1 did not take the new campaign; run the command again").arg(logger));
    message(QStringLiteral("new campaign started on logger %1, period %2").arg(logger, periodLabel(periodCode)));
    QString archiveError;
    const std::unique_ptr<Archive::Store> store = Archive::openStore(location, &archiveError);
    // A store opened with a word (the spool of a server that did not answer) keeps the event.
    QString logError;
    if ((store || archiveError.isEmpty()) && !Archive::logCampaignStarted(store.get(), s, periodCode, startTime, &logError))
        archiveError = archiveError.isEmpty() ? logError : archiveError + QStringLiteral("; ") + logError;
    if (!archiveError.isEmpty())
        return fail(Failure, QStringLiteral("the campaign was started, but the archive step failed: ") + archiveError);
    return Success;
}

} // namespace Cli
