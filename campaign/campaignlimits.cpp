#include "campaignlimits.h"

#include "settings.h"

namespace {

double readLimit(const Settings &settings, const QString &key)
{
    double limit = std::nan("");
    if (settings.contains(key) && !parseLimit(settings.value(key).toString(), limit))
        limit = std::nan("");  // a damaged entry is no limit, not a wrong one
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

std::vector<ColumnLimits> loadLimits(const ExportData &data)
{
    Settings settings;
    std::vector<ColumnLimits> limits(size_t(data.columnCount()));
    for (int c = 0; c < data.columnCount(); ++c) {
        limits[size_t(c)].low = readLimit(settings, SettingsKey::campaignLowerLimit(data.deviceType, c + 1));
        limits[size_t(c)].high = readLimit(settings, SettingsKey::campaignUpperLimit(data.deviceType, c + 1));
    }
    return limits;
}

void saveLimits(const ExportData &data, int column, const ColumnLimits &limits)
{
    Settings settings;
    writeLimit(settings, SettingsKey::campaignLowerLimit(data.deviceType, column + 1), limits.low);
    writeLimit(settings, SettingsKey::campaignUpperLimit(data.deviceType, column + 1), limits.high);
}
