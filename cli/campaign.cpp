// stats and report: an export file's statistics and its PDF report, with the limits of
// config.ini, the same numbers as the campaign window.

#include "cli.h"

#include "archivedcampaign.h"
#include "archiveoptions.h"
#include "campaigncommands.h"
#include "campaignlimits.h"
#include "campaignreport.h"
#include "exportfilereader.h"
#include "session.h"

namespace Cli {

namespace {

// The export file and its statistics with the limits of config.ini in the working
// directory, those given with --limit in their place.
int load(const QCommandLineParser &args, ExportData &data, CampaignStatistics &statistics)
{
    const QStringList files = args.positionalArguments();
    if (files.size() != 1)
        return fail(Usage, QStringLiteral("give one export file (.tsv)"));
    QString error;
    if (!readExportFile(files.first(), data, error))
        return fail(FileError, error);
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

} // namespace

int stats(const QCommandLineParser &args)
{
    ExportData data;
    CampaignStatistics statistics;
    if (int code = load(args, data, statistics))
        return code;
    writeOut(statisticsOutput(data, statistics, args.isSet(QStringLiteral("json"))));
    return Success;
}

int report(const QCommandLineParser &args)
{
    const QString output = args.value(QStringLiteral("output"));
    if (output.isEmpty())
        return fail(Usage, QStringLiteral("the report needs -o REPORT.pdf"));
    Archive::Location archive;
    if (int code = archiveLocation(args, &archive))
        return code;
    ExportData data;
    CampaignStatistics statistics;
    if (int code = load(args, data, statistics))
        return code;
    if (output == QLatin1String("-"))
        binaryStandardOutput();
    QString error;
    if (!writePdfReport(output, data, statistics, error))
        return fail(FileError, QStringLiteral("cannot write ") + error);
    if (output == QLatin1String("-"))
        return Success;
    message(QStringLiteral("report written to %1").arg(output));
    if (!recordEvent(archive, Archive::EventKind::ReportWritten, loggerAddress(data), reportDetails(output, data), error))
        return fail(Failure, QStringLiteral("the archive could not record the report: ") + error);
    return Success;
}

} // namespace Cli
