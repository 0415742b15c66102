#ifndef VANTOREL_ARCHIVEDCAMPAIGN_H
#define VANTOREL_ARCHIVEDCAMPAIGN_H

// What the campaign layer does with the archive: stored downloads made into export files
// again, and the audit events of reports, limits and exports.

#include "archive.h"
#include "campaignreport.h"
#include "campaignstatistics.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// The SHA-256 of a file's bytes as events and reports name it: 64 lower-case hex digits.
QString sha256Hex(const QByteArray &bytes);

// The export file of a stored download, byte for byte the file its read wrote.
QByteArray archivedExportText(const Archive::Download &download);
// The name a read of it would have proposed: serial number and the download's local time.
QString archivedExportName(const Archive::Download &download);
// The stored download read as an export file, named archivedExportName().
bool archivedCampaign(const Archive::Download &download, ExportData &data, QString &error);

// Appends one event to an archive; true at once when there is none. A command opens the
// archive for it, a window records through the connection it keeps.
using EventRecorder = std::function<bool(Archive::EventKind kind, quint32 address, const QJsonObject &details,
                                         QString &error)>;

// Writes the export file of `download` whole or not at all, then records ExportWritten.
enum class ArchivedExport { Written, FileFailed, NotRecorded };
ArchivedExport saveArchivedExport(const EventRecorder &record, const Archive::Download &download, const QString &path,
                                  QString &error);
ArchivedExport saveArchivedExport(Archive::Store &store, const Archive::Download &download, const QString &path,
                                  QString &error);

// Appends one event to the archive at `location`; true at once when it is switched off.
bool recordEvent(const Archive::Location &location, Archive::EventKind kind, quint32 address,
                 const QJsonObject &details, QString &error);
EventRecorder eventRecorder(const Archive::Location &location);   // recordEvent() at `location`
quint32 loggerAddress(const ExportData &data);   // from the serial number of the file's header
// A PDF report of `data` now at `path`: its file, SHA-256, the export file it shows and its
// SHA-256, the archived download's id.
QJsonObject reportDetails(const QString &path, const ExportData &data, const ReportSubject &subject);
// The limits of value column `column` (from 0) as they are now; null for no limit.
QJsonObject limitsDetails(const ExportData &data, int column, const ColumnLimits &limits);

#endif
