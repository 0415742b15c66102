#include "campaigncommands.h"

#include "campaignlimits.h"
#include "campaignreport.h"

#include <QJsonDocument>
#include <QTextStream>

namespace {

bool load(const QString &path, ExportData &data, CampaignStatistics &statistics)
{
    QString error;
    if (!readExportFile(path, data, error)) {
        QTextStream(stderr) << error << '\n';
        return false;
    }
    statistics = computeStatistics(data, loadLimits(data));
    return true;
}

void printAligned(QTextStream &out, const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.append(0);
            widths[c] = std::max(widths[c], int(row[c].size()));
        }
    }
    for (const QStringList &row : rows) {
        QString text;
        for (int c = 0; c < row.size(); ++c)
            text += c == 0 ? row[c].leftJustified(widths[c] + 2) : row[c].rightJustified(widths[c] + 2);
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        out << text << '\n';
    }
}

int usage(const char *text)
{
    QTextStream(stderr) << "usage: vantorel-cli " << text << '\n';
    return 2;
}

} // namespace

int runStatsCommand(const QStringList &arguments)
{
    QStringList files = arguments;
    const bool json = files.removeAll(QStringLiteral("--json")) > 0;
    if (files.size() != 1 || files[0].startsWith(QLatin1Char('-')))
        return usage("stats FILE.tsv [--json]");
    ExportData data;
    CampaignStatistics statistics;
    if (!load(files[0], data, statistics))
        return 1;
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    if (json) {
        out << QJsonDocument(statisticsJson(data, statistics)).toJson(QJsonDocument::Indented);
        return 0;
    }
    printAligned(out, campaignSummary(data, statistics));
    out << '\n';
    const StatisticsTable table = statisticsTable(data, statistics);
    QList<QStringList> rows = table.rows;
    rows.prepend(table.header);
    printAligned(out, rows);
    return 0;
}

int runReportCommand(const QStringList &arguments)
{
    QStringList rest = arguments;
    const int option = int(rest.indexOf(QStringLiteral("-o")));
    if (option < 0 || option + 1 >= rest.size())
        return usage("report FILE.tsv -o REPORT.pdf");
    const QString output = rest.takeAt(option + 1);
    rest.removeAt(option);
    if (rest.size() != 1 || rest[0].startsWith(QLatin1Char('-')))
        return usage("report FILE.tsv -o REPORT.pdf");
    ExportData data;
    CampaignStatistics statistics;
    if (!load(rest[0], data, statistics))
        return 1;
    QString error;
    if (!writePdfReport(output, data, statistics, error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    return 0;
}
