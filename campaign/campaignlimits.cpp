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
