#ifndef VANTOREL_ARCHIVEDDOWNLOAD_H
#define VANTOREL_ARCHIVEDDOWNLOAD_H

// A download through the archive, for every front end: only what is new is read when the
// archive holds the campaign, and every completed download is stored. Widget-free; it uses
// only the port and the store it is given, so a worker thread can run it with its own.
// The archive failing never fails the download: the caller still writes its export file,
// then tells the user what `archiveError` says.

#include "archive.h"
#include "loggerdevice.h"

#include <memory>

namespace Archive {

struct ReadReport {
    Device::DownloadResult result = Device::DownloadResult::GaveUp;
    bool incremental = false;
    QString whyFull;           // why the whole memory was read
    quint64 newRecords = 0;    // since the last archived download of the campaign
    quint32 bytesRead = 0;     // record-memory bytes asked of the logger
    qint64 downloadId = 0;     // 0 when not stored
    QString archiveError;      // set when the archive step failed
};

// The store at `location`; null when the archive is off (`error` empty) or cannot be opened.
// A PostgreSQL server that cannot be reached: the store of its spool, with `error` saying so
// (the caller still reports the archive step as failed); one that is reached first takes
// what waits in the spool.
std::unique_ptr<Store> openStore(const Location &location, QString *error);

// `status` was just read. `store` null: a plain full read, nothing stored. Progress runs
// over the part read; a re-read block that differs from the archive starts a full read.
ReadReport readThroughArchive(ManageSerialPort &port, const LoggerStatus &status, Store *store, bool forceFull,
                              Device::RecordMemory &memory, const Device::DownloadCallbacks &callbacks);

// After the export file is in place (its SHA-256 is logged with it). `store` null: nothing
// to log (true).
bool logExportWritten(Store *store, const LoggerStatus &status, const QString &file, qint64 downloadId,
                      QString *error);

// After a new campaign was started on the logger.
bool logCampaignStarted(Store *store, const LoggerStatus &status, int periodCode, const QDateTime &start,
                        QString *error);

} // namespace Archive

#endif
