#ifndef VANTOREL_LOGGERDOWNLOAD_H
#define VANTOREL_LOGGERDOWNLOAD_H

// One logger's campaign into a directory, under the name the window proposes, and every
// logger of a list of ports at the same time.

#include "archive.h"
#include "portsession.h"

#include <QMetaType>

namespace Station {

enum class DownloadOutcome {
    Read,          // the file is written
    NoLogger,      // nothing answered on the port (or it could not be opened)
    LineFailed,    // the logger stopped answering (unplugged, asleep): no file
    Interrupted,   // stopped by the user or the service: no file
    FileFailed,    // the file could not be written: no file
};

struct DownloadReport {
    QString port;
    LoggerStatus status;       // address and type once the logger answered
    QString file;              // path of the file written, or that would have been
    quint64 records = 0;       // records in the file
    quint64 newRecords = 0;    // of those, not downloaded before
    double seconds = 0;        // from the port's opening to the file's renaming
    DownloadOutcome outcome = DownloadOutcome::NoLogger;
    QString error;             // a message for the user when not Read
    QString archiveError;      // the file is written, but the archive step failed
};

// Where a station's downloads go: the files' directory, and the archive they pass through
// (off: every read is a full one and nothing is stored).
struct DownloadTarget {
    QString directory;
    Archive::Location archive;
    bool forceFull = false;
};

// Bytes of the record memory read so far, of those to read.
using Progress = std::function<void(quint32 bytesRead, quint32 bytesToRead)>;

// The download of the logger whose status was just read, through the archive: only what is
// new is read when it holds the campaign. The archive is opened by the calling thread.
DownloadReport downloadLogger(ManageSerialPort &port, const QString &portName, const LoggerStatus &status,
                              const DownloadTarget &target, const Cancelled &cancelled, const Progress &progress = {});

// Opens each port, identifies its logger and downloads it, all at the same time.
QList<DownloadReport> downloadAll(const QStringList &ports, const DownloadTarget &target, const Cancelled &cancelled);

// "read", "no logger", "line failed", "interrupted", "file failed".
QString outcomeName(DownloadOutcome outcome);

} // namespace Station

Q_DECLARE_METATYPE(Station::DownloadReport)

#endif
