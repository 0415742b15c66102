#ifndef VANTOREL_LOGGERDOWNLOAD_H
#define VANTOREL_LOGGERDOWNLOAD_H

// One logger's campaign into a directory, under the name the window proposes, and every
// logger of a list of ports at the same time.

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
};

// The download of the logger whose status was just read, into `directory`.
DownloadReport downloadLogger(ManageSerialPort &port, const QString &portName, const LoggerStatus &status,
                              const QString &directory, const Cancelled &cancelled);

// Opens each port, identifies its logger and downloads it, all at the same time.
QList<DownloadReport> downloadAll(const QStringList &ports, const QString &directory, const Cancelled &cancelled);

// "read", "no logger", "line failed", "interrupted", "file failed".
QString outcomeName(DownloadOutcome outcome);

} // namespace Station

Q_DECLARE_METATYPE(Station::DownloadReport)

#endif
