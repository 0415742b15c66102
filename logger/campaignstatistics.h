#ifndef VANTOREL_CAMPAIGNSTATISTICS_H
#define VANTOREL_CAMPAIGNSTATISTICS_H

#include "exportreader.h"

#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QStringList>

#include <cmath>
#include <vector>

// A lower and an upper limit of one column; NaN when not set.
struct ColumnLimits {
    double low = std::nan("");
    double high = std::nan("");
};

struct ColumnStatistics {
    qint64 count = 0;
    double minimum = std::nan("");
    double maximum = std::nan("");
    qint64 minimumTime = ExportData::NO_TIME;  // first occurrence
    qint64 maximumTime = ExportData::NO_TIME;
    double mean = std::nan("");
    double meanKinetic = std::nan("");         // °C columns only
    ColumnLimits limits;
    qint64 secondsBelow = 0;
    qint64 secondsAbove = 0;
    int excursions = 0;                        // runs of consecutive values outside the limits
};

struct CampaignStatistics {
    qint64 records = 0;
    qint64 overflowRecords = 0;                // lost to the wrap-around of the memory
    qint64 firstStamp = ExportData::NO_TIME;
    qint64 lastStamp = ExportData::NO_TIME;
    qint64 periodSeconds = 0;                  // first step between two stamps; 0 if none
    std::vector<ColumnStatistics> columns;
    qint64 duration() const;                   // 0 without two stamps
};
// The stamps, the period and the duration are those of the records that were not lost.

// Mean kinetic temperature, activation energy over the gas constant.
constexpr double MKT_DELTA_H_OVER_R = 10000.0;

// Each value stands for the time up to the next stamp; the last one for the step before
// it. Gaps count for neither side and do not end an excursion.
CampaignStatistics computeStatistics(const ExportData &data, const std::vector<ColumnLimits> &limits);

// The statistics as text, one row per figure and one column per value column: the table
// of the window, the report and the command line.
struct StatisticsTable {
    QStringList header;            // "", then the column titles
    QList<QStringList> rows;       // label, then one text per column
    static constexpr int LOWER_LIMIT_ROW = 7;
    static constexpr int UPPER_LIMIT_ROW = 8;
};
StatisticsTable statisticsTable(const ExportData &data, const CampaignStatistics &statistics);
// Logger, serial, period, first and last stamp, duration, records: label and text.
QList<QStringList> campaignSummary(const ExportData &data, const CampaignStatistics &statistics);
QJsonObject statisticsJson(const ExportData &data, const CampaignStatistics &statistics);
// Limit text of a table cell: empty for none.
QString limitText(double limit);
// Reads a limit typed by the user: empty is no limit (NaN); false for text that is no number.
bool parseLimit(const QString &text, double &limit);

// What an empty chart says: no records, or none with a time stamp.
QString noChartText(const ExportData &data);

// Min/max reduction for drawing: the rows with times in [from, to] (seconds) fall into
// `buckets` equal columns; each column keeps its minimum and maximum in time order, so
// no extreme is lost. A point with NaN y marks a gap. x is in milliseconds since 1970.
std::vector<QPointF> reduceMinMax(const std::vector<qint64> &times, const std::vector<double> &values,
                                  qint64 from, qint64 to, int buckets);

#endif
