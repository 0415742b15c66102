#include "loggerdownload.h"

#include "campaigndownload.h"
#include "clock.h"
#include "exportfile.h"
#include "manageserialport.h"
#include "outputfile.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>

namespace Station {

namespace {

DownloadOutcome outcomeOf(Archive::FileOutcome outcome)
{
    switch (outcome) {
    case Archive::FileOutcome::Written: return DownloadOutcome::Read;
    case Archive::FileOutcome::LineFailed: return DownloadOutcome::LineFailed;
    case Archive::FileOutcome::Interrupted: return DownloadOutcome::Interrupted;
    case Archive::FileOutcome::FileFailed: return DownloadOutcome::FileFailed;
    }
    return DownloadOutcome::Interrupted;
}

} // namespace

DownloadReport downloadLogger(ManageSerialPort &port, const QString &portName, const LoggerStatus &status,
                              const DownloadTarget &target, const Cancelled &cancelled, const Progress &progress)
{
    DownloadReport report;
    report.port = portName;
    report.status = status;
    const QString name = proposedExportFileName(status.address, Clock::now());
    report.file = target.directory.isEmpty() ? name : QDir(target.directory).filePath(name);
    // Created first: a directory that cannot be written costs no download.
    OutputFile out(report.file);
    if (!out.open(QIODevice::WriteOnly)) {
        report.outcome = DownloadOutcome::FileFailed;
        report.error = QStringLiteral("cannot write ") + out.errorMessage();
        return report;
    }
    Archive::DownloadCallbacks callbacks;
    callbacks.progress = progress;
    callbacks.cancelled = cancelled;
    const Archive::CampaignDownload done = Archive::downloadCampaign(
        port, status, out, target.archive, nullptr, Archive::DownloadPolicy{target.forceFull}, callbacks);
    report.outcome = outcomeOf(done.outcome);
    report.records = done.records;
    report.newRecords = done.newRecords;
    report.error = done.outcome == Archive::FileOutcome::FileFailed ? QStringLiteral("cannot write ") + done.error : done.error;
    report.archiveError = done.archiveError;
    return report;
}

QList<DownloadReport> downloadAll(const QStringList &ports, const DownloadTarget &target, const Cancelled &cancelled)
{
    return onEachPort<DownloadReport>(ports, [&](const QString &name) {
        QElapsedTimer clock;
        clock.start();
        ManageSerialPort port;
        DownloadReport report;
        if (!openPort(port, name)) {
            report.error = port.errorString();
        } else if (identify(port, report.status, cancelled)) {
            report = downloadLogger(port, name, report.status, target, cancelled);
        } else {
            report.outcome = cancelled && cancelled() ? DownloadOutcome::Interrupted : DownloadOutcome::NoLogger;
            report.error = QStringLiteral("no logger answers");
        }
        report.port = name;
        report.seconds = clock.elapsed() / 1000.0;
        return report;
    });
}

QString outcomeName(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Read: return QStringLiteral("read");
    case DownloadOutcome::NoLogger: return QStringLiteral("no logger");
    case DownloadOutcome::LineFailed: return QStringLiteral("line failed");
    case DownloadOutcome::Interrupted: return QStringLiteral("interrupted");
    case DownloadOutcome::FileFailed: return QStringLiteral("file failed");
    }
    return QString();
}

} // namespace Station
