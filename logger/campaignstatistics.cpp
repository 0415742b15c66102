#include "campaignstatistics.h"

#include "devicetypes.h"
#include "periods.h"
#include "statusdisplay.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

namespace {

bool known(qint64 time)
{
    return time != ExportData::NO_TIME;
}

// The time a value stands for: up to the next stamp, or the step before the last one.
qint64 interval(const std::vector<qint64> &t, size_t i)
{
    qint64 step = 0;
    if (i + 1 < t.size() && known(t[i]) && known(t[i + 1]))
        step = t[i + 1] - t[i];
    else if (i + 1 == t.size() && i > 0 && known(t[i]) && known(t[i - 1]))
        step = t[i] - t[i - 1];
    return std::max<qint64>(step, 0);
}

QString valueText(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("-") : fixedText(value, decimals);
}

// Rounded as the table shows it, so that JSON and screen agree to the last digit.
QJsonValue jsonNumber(double value, int decimals = 1)
{
    return std::isnan(value) ? QJsonValue() : QJsonValue(fixedText(value, decimals).toDouble());
}

// ISO 8601 of the logger's clock, which keeps no time zone, as every JSON of the program.
QJsonValue jsonStamp(qint64 time)
{
    return known(time) ? QJsonValue(QDateTime::fromSecsSinceEpoch(time, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")))
                       : QJsonValue();
}

QString periodText(qint64 seconds)
{
    for (int code = 0; code <= 13; ++code) {
        if (periodSeconds(code) == seconds)
            return periodLabel(code);
    }
    return seconds > 0 ? durationText(seconds) : QStringLiteral("-");
}

} // namespace

qint64 CampaignStatistics::duration() const
{
    return known(firstStamp) && known(lastStamp) ? lastStamp - firstStamp : 0;
}

CampaignStatistics computeStatistics(const ExportData &data, const std::vector<ColumnLimits> &limits)
{
    CampaignStatistics result;
    const std::vector<qint64> &t = data.times;
    result.records = qint64(t.size());
    result.overflowRecords = std::count(data.rowKinds.begin(), data.rowKinds.end(), ExportData::Overflow);
    // The campaign that can be seen starts after the records lost to the wrap-around: their
    // stamps would stretch the time axis and the duration over days of nothing.
    for (size_t i = 0; i < t.size(); ++i) {
        if (!known(t[i]) || data.rowKinds[i] == ExportData::Overflow)
            continue;
        if (!known(result.firstStamp))
            result.firstStamp = t[i];
        else if (!result.periodSeconds && t[i] > result.lastStamp)
            result.periodSeconds = t[i] - result.lastStamp;
        result.lastStamp = t[i];
    }

    for (int c = 0; c < data.columnCount(); ++c) {
        ColumnStatistics s;
        if (size_t(c) < limits.size())
            s.limits = limits[size_t(c)];
        const std::vector<double> &v = data.values[size_t(c)];
        const bool celsius = data.isCelsius(c);
        double sum = 0;
        double kineticSum = 0;
        int side = 0;  // -1 below, +1 above, 0 inside, for the last known value
        for (size_t i = 0; i < v.size(); ++i) {
            const double x = v[i];
            if (std::isnan(x))
                continue;
            if (s.count == 0 || x < s.minimum) {
                s.minimum = x;
                s.minimumTime = t[i];
            }
            if (s.count == 0 || x > s.maximum) {
                s.maximum = x;
                s.maximumTime = t[i];
            }
            ++s.count;
            sum += x;
            if (celsius)
                kineticSum += std::exp(-MKT_DELTA_H_OVER_R / (x + 273.15));
            const int now = x < s.limits.low ? -1 : x > s.limits.high ? 1 : 0;
            if (now != 0 && now != side)
                ++s.excursions;
            side = now;
            if (now < 0)
                s.secondsBelow += interval(t, i);
            else if (now > 0)
                s.secondsAbove += interval(t, i);
        }
        if (s.count) {
            s.mean = sum / double(s.count);
            if (celsius && kineticSum > 0)
                s.meanKinetic = MKT_DELTA_H_OVER_R / -std::log(kineticSum / double(s.count)) - 273.15;
        }
        result.columns.push_back(s);
    }
    return result;
}

QString limitText(double limit)
{
    return std::isnan(limit) ? QString() : QString::number(limit, 'g', 10);
}

bool parseLimit(const QString &text, double &limit)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        limit = std::nan("");
        return true;
    }
    bool ok = false;
    const double value = trimmed.toDouble(&ok);  // C locale: '.' decimal point
    if (!ok || !std::isfinite(value))
        return false;
    limit = value;
    return true;
}

StatisticsTable statisticsTable(const ExportData &data, const CampaignStatistics &statistics)
{
    StatisticsTable table;
    table.header << QString();
    for (int c = 0; c < data.columnCount(); ++c)
        table.header << data.columnTitle(c);
    const QStringList labels = {
        QStringLiteral("Values"), QStringLiteral("Minimum"), QStringLiteral("Minimum at"),
        QStringLiteral("Maximum"), QStringLiteral("Maximum at"), QStringLiteral("Mean"),
        QStringLiteral("Mean kinetic temperature"), QStringLiteral("Lower limit"), QStringLiteral("Upper limit"),
        QStringLiteral("Time below"), QStringLiteral("Time above"), QStringLiteral("Excursions"),
    };
    for (const QString &label : labels)
        table.rows.append(QStringList(label));
    for (const ColumnStatistics &s : statistics.columns) {
        const bool limited = !std::isnan(s.limits.low) || !std::isnan(s.limits.high);
        const QString cells[] = {
            QString::number(s.count), valueText(s.minimum, 1), stampText(s.minimumTime),
            valueText(s.maximum, 1), stampText(s.maximumTime), valueText(s.mean, 2),
            valueText(s.meanKinetic, 2), limitText(s.limits.low), limitText(s.limits.high),
            std::isnan(s.limits.low) ? QStringLiteral("-") : durationText(s.secondsBelow),
            std::isnan(s.limits.high) ? QStringLiteral("-") : durationText(s.secondsAbove),
            limited ? QString::number(s.excursions) : QStringLiteral("-"),
        };
        for (int r = 0; r < table.rows.size(); ++r)
            table.rows[r] << cells[r];
    }
    return table;
}

QList<QStringList> campaignSummary(const ExportData &data, const CampaignStatistics &statistics)
{
    const QString type = data.deviceType ? screenNameOf(data.deviceType) + QStringLiteral(" (") + data.typeName
                                               + QLatin1Char(')')
                                         : data.typeName;
    return {
        {QStringLiteral("Logger"), type},
        {QStringLiteral("Serial number"), data.serial},
        {QStringLiteral("Period"), periodText(statistics.periodSeconds)},
        {QStringLiteral("First record"), stampText(statistics.firstStamp)},
        {QStringLiteral("Last record"), stampText(statistics.lastStamp)},
        {QStringLiteral("Duration"), durationText(statistics.duration())},
        {QStringLiteral("Records"), QString::number(statistics.records)},
        {QStringLiteral("Lost to wrap-around"), QString::number(statistics.overflowRecords)},
    };
}

QJsonObject statisticsJson(const ExportData &data, const CampaignStatistics &statistics)
{
    QJsonArray columns;
    for (int c = 0; c < int(statistics.columns.size()); ++c) {
        const ColumnStatistics &s = statistics.columns[size_t(c)];
        columns.append(QJsonObject{
            {QStringLiteral("name"), data.columnNames.value(c)},
            {QStringLiteral("unit"), data.units.value(c)},
            {QStringLiteral("count"), s.count},
            {QStringLiteral("minimum"), jsonNumber(s.minimum)},
            {QStringLiteral("minimumAt"), jsonStamp(s.minimumTime)},
            {QStringLiteral("maximum"), jsonNumber(s.maximum)},
            {QStringLiteral("maximumAt"), jsonStamp(s.maximumTime)},
            {QStringLiteral("mean"), jsonNumber(s.mean, 2)},
            {QStringLiteral("meanKineticTemperature"), jsonNumber(s.meanKinetic, 2)},
            {QStringLiteral("lowerLimit"), std::isnan(s.limits.low) ? QJsonValue() : QJsonValue(s.limits.low)},
            {QStringLiteral("upperLimit"), std::isnan(s.limits.high) ? QJsonValue() : QJsonValue(s.limits.high)},
            {QStringLiteral("secondsBelow"), s.secondsBelow},
            {QStringLiteral("secondsAbove"), s.secondsAbove},
            {QStringLiteral("excursions"), s.excursions},
        });
    }
    const QString typeName = screenNameOf(data.deviceType);
    return QJsonObject{
        {QStringLiteral("file"), data.fileName},
        {QStringLiteral("serialNumber"), data.serial},
        {QStringLiteral("deviceType"), data.deviceType ? QJsonValue(data.deviceType) : QJsonValue()},
        {QStringLiteral("typeName"), typeName.isEmpty() ? QJsonValue() : QJsonValue(typeName)},
        {QStringLiteral("records"), statistics.records},
        {QStringLiteral("lostRecords"), statistics.overflowRecords},
        {QStringLiteral("periodSeconds"), statistics.periodSeconds ? QJsonValue(statistics.periodSeconds) : QJsonValue()},
        {QStringLiteral("firstRecord"), jsonStamp(statistics.firstStamp)},
        {QStringLiteral("lastRecord"), jsonStamp(statistics.lastStamp)},
        {QStringLiteral("durationSeconds"), statistics.duration()},
        {QStringLiteral("columns"), columns},
    };
}

QString noChartText(const ExportData &data)
{
    return data.rowCount() ? QStringLiteral("No time stamps to draw") : QStringLiteral("No records to draw");
}

std::vector<QPointF> reduceMinMax(const std::vector<qint64> &times, const std::vector<double> &values,
                                  qint64 from, qint64 to, int buckets)
{
    std::vector<QPointF> out;
    if (to < from || buckets < 1)
        return out;
    const size_t n = std::min(times.size(), values.size());
    // Stamps normally ascend: only the visible rows and one on each side are looked at.
    size_t begin = 0;
    size_t end = n;
    if (std::is_sorted(times.begin(), times.begin() + qint64(n))) {
        begin = size_t(std::lower_bound(times.begin(), times.begin() + qint64(n), from) - times.begin());
        end = size_t(std::upper_bound(times.begin(), times.begin() + qint64(n), to) - times.begin());
        begin = begin > 0 ? begin - 1 : 0;
        end = std::min(n, end + 1);
    }
    const double span = double(to - from) + 1.0;
    const auto point = [&](size_t i) { return QPointF(double(times[i]) * 1000.0, values[i]); };
    qint64 bucket = -1;
    size_t lo = 0, hi = 0;
    bool open = false;     // a bucket holds points not yet written
    bool gapWritten = true;
    const auto flush = [&]() {
        if (!open)
            return;
        out.push_back(point(std::min(lo, hi)));
        if (lo != hi)
            out.push_back(point(std::max(lo, hi)));
        open = false;
        gapWritten = false;
    };
    for (size_t i = begin; i < end; ++i) {
        const double v = values[i];
        if (std::isnan(v) || !known(times[i])) {
            flush();
            if (!gapWritten) {
                out.emplace_back(out.back().x(), std::nan(""));
                gapWritten = true;
            }
            continue;
        }
        const qint64 b = qint64(std::floor((double(times[i]) - double(from)) / span * buckets));
        if (b != bucket)
            flush();
        if (!open) {
            bucket = b;
            lo = hi = i;
            open = true;
        } else if (v < values[lo]) {
            lo = i;
        } else if (v > values[hi]) {
            hi = i;
        }
    }
    flush();
    return out;
}
