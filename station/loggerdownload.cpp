#include "loggerdownload.h"

#include "archiveddownload.h"
#include "clock.h"
#include "exportdownload.h"
#include "exportfile.h"
#include "manageserialport.h"
#include "outputfile.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>

namespace Station {

namespace {
// Rounds of wake-ups for a block that keeps failing, as vantorel-cli read allows.
constexpr int BLOCK_RETRIES = 3;
} // namespace

DownloadReport downloadLogger(ManageSerialPort &port, const QString &portName, const LoggerStatus &status,
                              const DownloadTarget &target, const Cancelled &cancelled, const Progress &progress)
{
    const QString &directory = target.directory;
    DownloadReport report;
    report.port = portName;
    report.status = status;
    const QString name = proposedExportFileName(status.address, Clock::now());
    report.file = directory.isEmpty() ? name : QDir(directory).filePath(name);
    int retriesLeft = BLOCK_RETRIES;
    Device::DownloadCallbacks callbacks;
    callbacks.progress = [&retriesLeft, &progress](quint32 done, quint32 total) {
        retriesLeft = BLOCK_RETRIES;
        if (progress)
            progress(done, total);
    };
    callbacks.cancelled = cancelled;
    callbacks.retryFailedBlock = [&] { return !(cancelled && cancelled()) && retriesLeft-- > 0; };

    // The one place where a station reads a logger's campaign and writes its file. The file
    // is created first: a directory that cannot be written costs no download.
    OutputFile out(report.file);
    if (!out.open(QIODevice::WriteOnly)) {
        report.outcome = DownloadOutcome::FileFailed;
        report.error = QStringLiteral("cannot write ") + out.errorMessage();
        return report;
    }
    // An archive that cannot be opened costs the download nothing: a full read, then a word.
    QString archiveError;
    const std::unique_ptr<Archive::Store> store = Archive::openStore(target.archive, &archiveError);
    Device::RecordMemory memory;
    const Archive::ReadReport read = Archive::readThroughArchive(port, status, store.get(), target.forceFull, memory, callbacks);
    const Device::DownloadResult result = read.result;
    if (result != Device::DownloadResult::Complete || (cancelled && cancelled())) {
        report.outcome = result == Device::DownloadResult::GaveUp ? DownloadOutcome::LineFailed : DownloadOutcome::Interrupted;
        report.error = result == Device::DownloadResult::GaveUp ? QStringLiteral("the logger stopped answering; no file was written")
                                                                 : QStringLiteral("interrupted; no file was written");
        return report;
    }
    switch (Device::saveExport(out, status, memory, [&cancelled] { return !(cancelled && cancelled()); })) {
    case Device::SaveResult::Saved:
        report.outcome = DownloadOutcome::Read;
        report.records = Device::exportRecords(memory);
        report.newRecords = store ? read.newRecords : report.records;
        if (archiveError.isEmpty())
            archiveError = read.archiveError;
        if (archiveError.isEmpty())
            Archive::logExportWritten(store.get(), status, QFileInfo(report.file).absoluteFilePath(), read.downloadId, &archiveError);
        report.archiveError = archiveError;
        break;
    case Device::SaveResult::Stopped:
        report.outcome = DownloadOutcome::Interrupted;
        report.error = QStringLiteral("interrupted; no file was written");
        break;
    case Device::SaveResult::WriteFailed:
        report.outcome = DownloadOutcome::FileFailed;
        report.error = QStringLiteral("cannot write ") + out.errorMessage();
        break;
    }
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
