#include "campaigndownload.h"

#include "exportdownload.h"
#include "outputfile.h"

#include <QFileInfo>

namespace Archive {

namespace {

bool stopped(const DownloadCallbacks &callbacks)
{
    return callbacks.cancelled && callbacks.cancelled();
}

void tell(const DownloadCallbacks &callbacks, DownloadStep step)
{
    if (callbacks.step)
        callbacks.step(step);
}

// The logger's side: the record memory through the archive, under one retry budget.
void readMemory(ManageSerialPort &port, const LoggerStatus &status, Store *store, const DownloadPolicy &policy,
                const DownloadCallbacks &callbacks, Device::RecordMemory &memory, CampaignDownload &result)
{
    int retriesLeft = policy.blockRetries;
    bool budgetSpent = false;
    DownloadStep shown = DownloadStep::ReadingLogger;
    tell(callbacks, shown);
    Device::DownloadCallbacks device;
    device.progress = [&](quint32 done, quint32 total) {
        retriesLeft = policy.blockRetries;
        result.failedAt = done;
        if (callbacks.progress)
            callbacks.progress(done, total);
        // The last block read: what follows is the archive's.
        const DownloadStep now = done >= total && store ? DownloadStep::StoringDownload : DownloadStep::ReadingLogger;
        if (now != shown)
            tell(callbacks, shown = now);
    };
    device.cancelled = callbacks.cancelled;
    device.retryFailedBlock = [&] {
        if (stopped(callbacks))
            return false;
        if (retriesLeft == 0) {
            budgetSpent = true;
            return false;
        }
        if (retriesLeft > 0)
            --retriesLeft;
        return !callbacks.retrying || callbacks.retrying(result.failedAt);
    };
    result.read = readThroughArchive(port, status, store, policy.forceFull, memory, device);
    if (result.read.result == Device::DownloadResult::Complete && !stopped(callbacks))
        return;
    if (result.read.result == Device::DownloadResult::GaveUp && budgetSpent && !stopped(callbacks)) {
        result.outcome = FileOutcome::LineFailed;
        result.error = QStringLiteral("the block at byte %1 could not be read after %2 rounds of wake-ups; no file was written")
                           .arg(result.failedAt).arg(policy.blockRetries);
    } else {
        result.outcome = FileOutcome::Interrupted;
        result.error = QStringLiteral("interrupted; no file was written");
    }
}

// Put in place only once the whole memory was read and written.
void saveFile(OutputFile &out, const LoggerStatus &status, const Device::RecordMemory &memory,
              const DownloadCallbacks &callbacks, CampaignDownload &result)
{
    tell(callbacks, DownloadStep::WritingFile);
    switch (Device::saveExport(out, status, memory, [&callbacks] { return !stopped(callbacks); })) {
    case Device::SaveResult::Saved:
        result.outcome = FileOutcome::Written;
        result.records = Device::exportRecords(memory);
        break;
    case Device::SaveResult::Stopped:
        result.outcome = FileOutcome::Interrupted;
        result.error = QStringLiteral("interrupted; no file was written");
        break;
    case Device::SaveResult::WriteFailed:
        result.outcome = FileOutcome::FileFailed;
        result.error = out.errorMessage();
        break;
    }
}

} // namespace

CampaignDownload downloadCampaign(ManageSerialPort &port, const LoggerStatus &status, OutputFile &out,
                                  const Location &archive, Store *store, const DownloadPolicy &policy,
                                  const DownloadCallbacks &callbacks)
{
    CampaignDownload result;
    result.file = out.target() == QLatin1String("-") ? QStringLiteral("standard output")
                                                     : QFileInfo(out.target()).absoluteFilePath();
    // A store opened with a word (the spool of an unreachable server) is used all the same.
    std::unique_ptr<Store> opened;
    QString openError;
    if (!store && archive.enabled()) {
        tell(callbacks, DownloadStep::OpeningArchive);
        opened = openStore(archive, &openError);
        store = opened.get();
    }
    Device::RecordMemory memory;
    readMemory(port, status, store, policy, callbacks, memory, result);
    if (!result.error.isEmpty()) {
        out.cancel();
        return result;
    }
    saveFile(out, status, memory, callbacks, result);
    if (result.outcome != FileOutcome::Written)
        return result;
    result.newRecords = store ? result.read.newRecords : result.records;
    result.archiveError = result.read.archiveError;
    if (result.archiveError.isEmpty() && store) {
        tell(callbacks, DownloadStep::RecordingFile);
        logExportWritten(store, status, result.file, result.read.downloadId, &result.archiveError);
    }
    if (!openError.isEmpty())
        result.archiveError = openError;
    return result;
}

} // namespace Archive
