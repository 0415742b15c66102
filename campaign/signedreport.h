#ifndef VANTOREL_SIGNEDREPORT_H
#define VANTOREL_SIGNEDREPORT_H

// Signed reports: a report signed as it is written, a further signature added to one, and
// every signature of one checked against the file and the archive's audit trail. Each
// signature is recorded as a ReportSigned event naming the signed file's SHA-256.

#include "archive.h"
#include "archivedcampaign.h"
#include "campaignreport.h"
#include "credentials.h"
#include "pdfsigning.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The SHA-256 (hex) of the file at `path`; false with `error` when it cannot be read.
bool fileSha256(const QString &path, QString &sha256, QString &error);

// What happened: Refused and FileFailed leave no file and record nothing; NotRecorded has
// the file written but the archive failed.
enum class SignOutcome { Written, Refused, FileFailed, NotRecorded };

// The report of `data` signed once, written to `path` whole or not at all, then recorded.
SignOutcome writeSignedReport(const EventRecorder &record, const QString &path, const ExportData &data,
                              const CampaignStatistics &statistics, const ReportSubject &subject,
                              const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                              QString &error);
SignOutcome writeSignedReport(const Archive::Location &location, const QString &path, const ExportData &data,
                              const CampaignStatistics &statistics, const ReportSubject &subject,
                              const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                              QString &error);

// A further signature on the report `input`, written to `output` (the same path: the file is
// replaced whole). Refused when it is no report of this program, an earlier signature no
// longer holds, or the archive (when on) knows no report with its SHA-256.
SignOutcome signReportFile(const Archive::Location &location, const QString &input, const QString &output,
                           const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                           QString &error);

// One signature of a report: as checked in the file, and its ReportSigned event.
struct SignatureRecord {
    Signing::SignatureCheck check;
    qint64 eventId = 0;          // 0: no event records it
    QString meaning, account;    // as recorded
};

struct ReportVerification {
    std::vector<SignatureRecord> signatures;
    QString archiveProblem;      // the archive is off, unreachable or its chain is broken
    bool ok() const;             // signed, every signature holds and is recorded, nothing appended
};

// False with `error` when the file cannot be read (`unreadable` set) or is no PDF.
bool verifySignedReport(const Archive::Location &location, const QString &path, ReportVerification &result,
                        QString &error, bool *unreadable);

#endif
