#include "archiveddownload.h"

#include "incremental.h"
#include "periods.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonObject>

namespace Archive {

std::unique_ptr<Store> openStore(const Location &location, QString *error)
{
    error->clear();
    if (!location.enabled())
        return nullptr;
    bool unreachable = false;
    std::unique_ptr<Store> store = Store::open(location, error, &unreachable);
    if (!location.isPostgres() || (!store && !unreachable))
        return store;
    // What waited in the spool goes first, so that the archive keeps the order of downloads.
    const QString spool = location.spoolPath();
    if (store && store->drainSpool(spool, error))
        return store;
    if (store)
        error->prepend(QStringLiteral("what waits in the spool could not be stored in the archive: "));
    QDir().mkpath(QFileInfo(spool).absolutePath());
    QString spoolError;
    std::unique_ptr<Store> spooled = Store::open({spool}, &spoolError);
    if (!spooled) {
        *error += QStringLiteral("; the spool cannot be used either: ") + spoolError;
        return nullptr;
    }
    *error += QStringLiteral("; downloads wait in the spool %1 until a command or the station reaches the archive")
                  .arg(QDir::toNativeSeparators(spool));
    return spooled;
}

ReadReport readThroughArchive(ManageSerialPort &port, const LoggerStatus &status, Store *store, bool forceFull,
                              Device::RecordMemory &memory, const Device::DownloadCallbacks &callbacks)
{
    ReadReport report;
    QString lookupError;
    const std::optional<Download> previous = store ? store->latestOfCampaign(status, &lookupError) : std::nullopt;
    const Download *last = previous ? &*previous : nullptr;
    report.newRecords = newRecords(status, last);

    ReadPlan plan = planRead(status, last);
    QString unvouched;
    if (!store)
        plan = ReadPlan{true, QStringLiteral("no archive to compare with")};
    else if (!lookupError.isEmpty())
        plan = ReadPlan{true, QStringLiteral("the archive could not be searched: ") + lookupError};
    else if (forceFull)
        plan = ReadPlan{true, QStringLiteral("a full read was asked for")};
    else if (!plan.full && !store->vouchesFor(*last, &unvouched))
        // Its row alone proves nothing: an edited image can come with its edited hash.
        plan = ReadPlan{true, QStringLiteral("the audit trail does not vouch for the archived download %1: %2")
                                  .arg(last->id).arg(unvouched)};

    quint32 before = 0;
    Device::DownloadCallbacks counted = callbacks;
    counted.progress = [&](quint32 done, quint32 total) {
        report.bytesRead = before + done;
        if (callbacks.progress)
            callbacks.progress(done, total);
    };
    if (!plan.full) {
        report.result = Device::readRecordMemoryRange(port, status, memory, plan.from, plan.to, counted);
        if (report.result != Device::DownloadResult::Complete)
            return report;
        report.incremental = mergeImage(plan, status, last->image, memory.image);
        if (!report.incremental) {
            plan = ReadPlan{true, QStringLiteral("the last archived block differs from the logger's memory")};
            // What the archive holds of the campaign is not the logger's: every record is new.
            report.newRecords = newRecords(status, nullptr);
        }
    }
    if (plan.full) {
        report.whyFull = plan.whyFull;
        before = report.bytesRead;
        report.result = Device::readRecordMemory(port, status, memory, counted);
        if (report.result != Device::DownloadResult::Complete)
            return report;
    }
    if (store) {
        // The derived fields as this read used them, not as an older display left them.
        LoggerStatus read = status;
        read.recordSize = memory.params.recordSize;
        read.memoryTop = memory.params.topAddress;
        report.downloadId = store->storeDownload(read, storedImage(status, memory.image), &report.archiveError);
    }
    return report;
}

bool logExportWritten(Store *store, const LoggerStatus &status, const QString &file, qint64 downloadId,
                      QString *error)
{
    QJsonObject details{{QStringLiteral("file"), file}};
    // The file as it now is on disk, so that a later change to it can be shown.
    QFile written(file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (written.open(QIODevice::ReadOnly) && hash.addData(&written))
        details.insert(QStringLiteral("sha256"), QString::fromLatin1(hash.result().toHex()));
    if (downloadId)
        details.insert(QStringLiteral("downloadId"), double(downloadId));
    return !store || store->logEvent(EventKind::ExportWritten, status.address, details, error);
}

bool logCampaignStarted(Store *store, const LoggerStatus &status, int periodCode, const QDateTime &start,
                        QString *error)
{
    const QJsonObject details{
        {QStringLiteral("periodCode"), periodCode},
        {QStringLiteral("period"), periodLabel(periodCode)},
        {QStringLiteral("start"), start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))},
    };
    return !store || store->logEvent(EventKind::CampaignStarted, status.address, details, error);
}

} // namespace Archive
