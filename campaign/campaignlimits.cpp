#include "campaignlimits.h"

#include "settings.h"

namespace {

// A damaged entry is no limit, not a wrong one; it is left in the file as it is.
double readLimit(const Settings &settings, const QString &key, QStringList *problems)
{
    double limit = std::nan("");
    if (settings.contains(key) && !parseLimit(settings.value(key).toString(), limit)) {
        limit = std::nan("");
        if (problems)
            problems->append(QStringLiteral("config.ini: %1 = \"%2\" is not a number; it is not used")
                                 .arg(key, settings.value(key).toString()));
    }
    return limit;
}

void writeLimit(Settings &settings, const QString &key, double limit)
{
    if (std::isnan(limit))
        settings.remove(key);
    else
        settings.setValue(key, limitText(limit));
}

} // namespace

std::vector<ColumnLimits> loadLimits(const ExportData &data, QStringList *problems)
{
    Settings settings;
    std::vector<ColumnLimits> limits(size_t(data.columnCount()));
    for (int c = 0; c < data.columnCount(); ++c) {
        ColumnLimits &l = limits[size_t(c)];
        l.low = readLimit(settings, SettingsKey::campaignLowerLimit(data.deviceType, c + 1), problems);
        l.high = readLimit(settings, SettingsKey::campaignUpperLimit(data.deviceType, c + 1), problems);
        if (l.low > l.high) {
            if (problems)
                problems->append(QStringLiteral("config.ini: the lower limit of %1 is above its upper limit; "
                                                "neither is used").arg(data.columnNames.value(c)));
            l = ColumnLimits();
        }
    }
    return limits;
}

void saveLimits(const ExportData &data, int column, const ColumnLimits &limits)
{
    Settings settings;
    writeLimit(settings, SettingsKey::campaignLowerLimit(data.deviceType, column + 1), limits.low);
    writeLimit(settings, SettingsKey::campaignUpperLimit(data.deviceType, column + 1), limits.high);
}

bool applyLimitOption(const ExportData &data, const QString &option, std::vector<ColumnLimits> &limits,
                      QString &error)
{
    const qsizetype equals = option.lastIndexOf(QLatin1Char('='));
    const QString column = option.left(equals).trimmed();
    const QStringList bounds = option.mid(equals + 1).split(QLatin1Char(':'));
    int index = column.toInt() - 1;
    for (int c = 0; c < data.columnCount() && index < 0; ++c) {
        if (column.compare(data.columnNames.value(c), Qt::CaseInsensitive) == 0
            || column.compare(data.columnTitle(c), Qt::CaseInsensitive) == 0)
            index = c;
    }
    ColumnLimits given;
    if (equals < 0 || bounds.size() != 2)
        error = QStringLiteral("--limit takes COLUMN=LOW:HIGH, not \"%1\"").arg(option);
    else if (index < 0 || index >= data.columnCount() || size_t(index) >= limits.size())
        error = QStringLiteral("--limit %1: the file has no column \"%2\" (columns: 1 to %3, or their titles)")
                    .arg(option, column).arg(data.columnCount());
    else if (!parseLimit(bounds[0], given.low) || !parseLimit(bounds[1], given.high))
        error = QStringLiteral("--limit %1: a bound is no number (use '.' as decimal point)").arg(option);
    else if (given.low > given.high)
        error = QStringLiteral("--limit %1: the lower limit is above the upper one").arg(option);
    else
        limits[size_t(index)] = given;
    return error.isEmpty();
}
