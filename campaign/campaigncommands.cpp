#include "campaigncommands.h"

#include <QJsonDocument>

namespace {

QString aligned(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.append(0);
            widths[c] = std::max(widths[c], int(row[c].size()));
        }
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c == 0 ? row[c].leftJustified(widths[c] + 2) : row[c].rightJustified(widths[c] + 2);
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

QByteArray statisticsOutput(const ExportData &data, const CampaignStatistics &statistics, bool json)
{
    if (json)
        return QJsonDocument(statisticsJson(data, statistics)).toJson(QJsonDocument::Compact) + '\n';
    const StatisticsTable table = statisticsTable(data, statistics);
    QList<QStringList> rows = table.rows;
    rows.prepend(table.header);
    return (aligned(campaignSummary(data, statistics)) + QLatin1Char('\n') + aligned(rows)).toUtf8();
}
