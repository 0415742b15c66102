#include "exportdownload.h"

#include <QSaveFile>

namespace Device {

FileDownload downloadToFile(ManageSerialPort &port, const LoggerStatus &status, const QString &path,
                            const DownloadCallbacks &callbacks)
{
    FileDownload outcome;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        outcome.result = FileDownloadResult::WriteFailed;
        outcome.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return outcome;
    }
    RecordMemory memory;
    switch (readRecordMemory(port, status, memory, callbacks)) {
    case DownloadResult::Complete: break;
    case DownloadResult::Cancelled: return outcome;
    case DownloadResult::GaveUp: outcome.result = FileDownloadResult::GaveUp; return outcome;
    }
    const auto keepGoing = [&callbacks] { return !callbacks.cancelled || !callbacks.cancelled(); };
    if (!writeExport(file, status, memory, keepGoing, &outcome.error) || !keepGoing()) {
        file.cancelWriting();
        outcome.result = outcome.error.isEmpty() ? FileDownloadResult::Cancelled : FileDownloadResult::WriteFailed;
        return outcome;
    }
    if (!file.commit()) {
        outcome.result = FileDownloadResult::WriteFailed;
        outcome.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return outcome;
    }
    outcome.result = FileDownloadResult::Saved;
    outcome.records = memory.params.endAddress / memory.params.recordSize;
    return outcome;
}

} // namespace Device
