// stats, report, sign and verify-report: an export file's (or an archived download's)
// statistics and its PDF report, with the limits of config.ini, the same numbers as the
// campaign window; signatures added to reports and checked.

#include "cli.h"

#include "archivedcampaign.h"
#include "archiveoptions.h"
#include "campaigncommands.h"
#include "campaignlimits.h"
#include "campaignreport.h"
#include "exportfilereader.h"
#include "session.h"
#include "signedreport.h"
#include "signingoptions.h"

namespace Cli {

namespace {

// The statistics of `data` with the limits of config.ini in the working directory, those
// given with --limit in their place.
int applyLimits(const QCommandLineParser &args, ExportData &data, CampaignStatistics &statistics)
{
    QString error;
    QStringList problems;
    std::vector<ColumnLimits> limits = loadLimits(data, &problems);
    for (const QString &option : args.values(QStringLiteral("limit"))) {
        if (!applyLimitOption(data, option, limits, error))
            return fail(Usage, error);
    }
    for (const QString &problem : problems)
        message(problem);
    statistics = computeStatistics(data, limits);
    return Success;
}

// The export file given and its statistics.
int load(const QCommandLineParser &args, ExportData &data, CampaignStatistics &statistics, ReportSubject *subject)
{
    const QStringList files = args.positionalArguments();
    if (files.size() != 1)
        return fail(Usage, QStringLiteral("give one export file (.tsv)"));
    QString error;
    if (!readExportFile(files.first(), data, error) || (subject && !fileSha256(files.first(), subject->exportSha256, error)))
        return fail(FileError, error);
    return applyLimits(args, data, statistics);
}

// --download ID: the archived download as its export file, and its statistics.
int loadDownload(const QCommandLineParser &args, const Archive::Location &location, ExportData &data,
                 CampaignStatistics &statistics, ReportSubject &subject)
{
    bool ok = false;
    subject.downloadId = args.value(QStringLiteral("download")).toLongLong(&ok);
    if (!ok || subject.downloadId <= 0 || !args.positionalArguments().isEmpty())
        return fail(Usage, QStringLiteral("--download takes a download id (archive list shows them), in place of the export file"));
    if (!location.enabled())
        return fail(Usage, QStringLiteral("--download needs the archive"));
    QString error;
    const std::unique_ptr<Archive::Store> store = Archive::Store::open(location, &error);
    const std::optional<Archive::Download> download = store ? store->download(subject.downloadId, &error) : std::nullopt;
    if (!download || !archivedCampaign(*download, data, error))
        return fail(Failure, error);
    subject.exportSha256 = sha256Hex(archivedExportText(*download));
    return applyLimits(args, data, statistics);
}

int signOutcome(SignOutcome outcome, const QString &error, const QString &done)
{
    switch (outcome) {
    case SignOutcome::Written:
        message(done);
        return Success;
    case SignOutcome::Refused: return fail(Failure, error);
    case SignOutcome::FileFailed: return fail(FileError, error);
    case SignOutcome::NotRecorded: break;
    }
    message(done);
    return fail(Failure, error);
}

// "signature 1: valid, Jane Doe, approval, 2026-12-07T15:40:12Z, whole file, audit event 12"
QString signatureLine(int number, const SignatureRecord &s)
{
    QStringList parts{s.check.valid ? QStringLiteral("valid") : QStringLiteral("INVALID (%1)").arg(s.check.problem),
                      s.check.signer.isEmpty() ? QStringLiteral("unknown signer") : s.check.signer,
                      s.meaning.isEmpty() ? QStringLiteral("-") : s.meaning,
                      s.check.signingTime.isValid() ? s.check.signingTime.toString(Qt::ISODate) : QStringLiteral("no signing time"),
                      s.check.wholeFile ? QStringLiteral("whole file")
                                        : QStringLiteral("first %1 bytes").arg(s.check.coveredLength),
                      s.eventId > 0 ? QStringLiteral("audit event %1").arg(s.eventId) : QStringLiteral("NOT RECORDED")};
    return QStringLiteral("signature %1: ").arg(number) + parts.join(QStringLiteral(", "));
}

} // namespace

int stats(const QCommandLineParser &args)
{
    ExportData data;
    CampaignStatistics statistics;
    if (int code = load(args, data, statistics, nullptr))
        return code;
    writeOut(statisticsOutput(data, statistics, args.isSet(QStringLiteral("json"))));
    return Success;
}

int report(const QCommandLineParser &args)
{
    const QString output = args.value(QStringLiteral("output"));
    if (output.isEmpty())
        return fail(Usage, QStringLiteral("the report needs -o REPORT.pdf"));
    const bool sign = args.isSet(QStringLiteral("sign"));
    if (sign && output == QLatin1String("-"))
        return fail(Usage, QStringLiteral("a signed report is written to a file, not to standard output"));
    if (!sign) {
        for (const QCommandLineOption &option : signingOptions()) {
            if (args.isSet(option))
                return fail(Usage, QStringLiteral("--%1 is for a signed report (--sign)").arg(option.names().first()));
        }
    }
    Archive::Location archive;
    if (int code = archiveLocation(args, &archive))
        return code;
    ExportData data;
    CampaignStatistics statistics;
    ReportSubject subject;
    if (int code = args.isSet(QStringLiteral("download")) ? loadDownload(args, archive, data, statistics, subject)
                                                          : load(args, data, statistics, &subject))
        return code;
    QString error;
    if (sign) {
        Signing::SignatureRequest request;
        std::unique_ptr<Signing::Credentials> credentials;
        if (int code = signingRequest(args, request, credentials))
            return code;
        const SignOutcome outcome = writeSignedReport(archive, output, data, statistics, subject, *credentials, request, error);
        return signOutcome(outcome, error, QStringLiteral("signed report written to %1").arg(output));
    }
    if (output == QLatin1String("-"))
        binaryStandardOutput();
    if (!writePdfReport(output, data, statistics, subject, error))
        return fail(FileError, QStringLiteral("cannot write ") + error);
    if (output == QLatin1String("-"))
        return Success;
    message(QStringLiteral("report written to %1").arg(output));
    if (!recordEvent(archive, Archive::EventKind::ReportWritten, loggerAddress(data), reportDetails(output, data, subject), error))
        return fail(Failure, QStringLiteral("the archive could not record the report: ") + error);
    return Success;
}

int sign(const QCommandLineParser &args)
{
    const QStringList files = args.positionalArguments();
    if (files.size() != 1)
        return fail(Usage, QStringLiteral("give one signed report (.pdf)"));
    const QString output = args.isSet(QStringLiteral("output")) ? args.value(QStringLiteral("output")) : files.first();
    if (output == QLatin1String("-"))
        return fail(Usage, QStringLiteral("a signed report is written to a file, not to standard output"));
    Archive::Location archive;
    if (int code = archiveLocation(args, &archive))
        return code;
    Signing::SignatureRequest request;
    std::unique_ptr<Signing::Credentials> credentials;
    if (int code = signingRequest(args, request, credentials))
        return code;
    QString error;
    const SignOutcome outcome = signReportFile(archive, files.first(), output, *credentials, request, error);
    return signOutcome(outcome, error, QStringLiteral("signature added, report written to %1").arg(output));
}

int verifyReport(const QCommandLineParser &args)
{
    const QStringList files = args.positionalArguments();
    if (files.size() != 1)
        return fail(Usage, QStringLiteral("give one signed report (.pdf)"));
    Archive::Location archive;
    if (int code = archiveLocation(args, &archive))
        return code;
    ReportVerification result;
    QString error;
    bool unreadable = false;
    if (!verifySignedReport(archive, files.first(), result, error, &unreadable))
        return fail(unreadable ? FileError : Failure, error);
    QByteArray lines;
    for (size_t i = 0; i < result.signatures.size(); ++i)
        lines += signatureLine(int(i + 1), result.signatures[i]).toUtf8() + '\n';
    writeOut(lines);
    if (result.ok())
        return Success;
    if (!result.archiveProblem.isEmpty())
        return fail(Failure, result.archiveProblem);
    if (result.signatures.empty())
        return fail(Failure, files.first() + QStringLiteral(": holds no signature"));
    if (!result.signatures.back().check.wholeFile)
        return fail(Failure, files.first() + QStringLiteral(": changed after its last signature"));
    return fail(Failure, files.first() + QStringLiteral(": not every signature holds and is recorded"));
}

} // namespace Cli
