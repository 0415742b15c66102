#ifndef VANTOREL_EXPORTDOWNLOAD_H
#define VANTOREL_EXPORTDOWNLOAD_H

// "Read Data" into a named file: the record memory, then the export file written whole or
// not at all. Shared by vantorel-cli read and the station.

#include "loggerdevice.h"

#include <QString>

namespace Device {

enum class FileDownloadResult { Saved, Cancelled, GaveUp, WriteFailed };

struct FileDownload {
    FileDownloadResult result = FileDownloadResult::Cancelled;
    quint64 records = 0;       // records written to the file
    QString error;             // WriteFailed: a message naming the file
};

// The export file is written beside `path` and renamed over it at the end, so that a
// failure or a cancellation leaves an earlier file of that name as it was. Nothing is read
// from the logger when `path` cannot be created.
FileDownload downloadToFile(ManageSerialPort &port, const LoggerStatus &status, const QString &path,
                            const DownloadCallbacks &callbacks);

} // namespace Device

#endif
