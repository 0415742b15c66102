#include "quantities.h"

#include "statusdisplay.h"

#include <cmath>

namespace {

const char *const celsius = "\xC2\xB0" "C";   // UTF-8

// clang-format off
const QList<Quantity> table = {
    // name, unit, decimals, quantity, metric, help, channel, scale, cumulative, HA class, HA unit, diagnostic
    {"temperature", celsius, 1, "temperature", "vantorel_temperature_celsius", "Temperature, by channel.", "1", 1, false,
     "temperature", celsius, false},
    {"t1", celsius, 1, "temperature", "vantorel_temperature_celsius", nullptr, "1", 1, false, "temperature", celsius, false},
    {"t2", celsius, 1, "temperature", "vantorel_temperature_celsius", nullptr, "2", 1, false, "temperature", celsius, false},
    {"humidity", "%RH", 1, "relative_humidity", "vantorel_relative_humidity_ratio", "Relative humidity (0 to 1).", nullptr, 0.01,
     false, "humidity", "%", false},
    {"pulses", "", 0, "pulses", "vantorel_pulses_total", "Pulses counted since the campaign started.", nullptr, 1, true,
     nullptr, nullptr, false},
    {"activePower", "W", 1, "power", "vantorel_power_watts", "Active power.", nullptr, 1, false, "power", "W", false},
    {"voltage", "V", 2, "voltage", "vantorel_voltage_volts", "Line voltage.", nullptr, 1, false, "voltage", "V", false},
    {"current", "A", 2, "current", "vantorel_current_amperes", "Line current.", nullptr, 1, false, "current", "A", false},
    {"powerFactor", "", 2, "power_factor", "vantorel_power_factor_ratio", "Power factor (0 to 1).", nullptr, 1, false,
     "power_factor", nullptr, false},
    {"batteryVoltage", "V", 1, "battery_voltage", "vantorel_battery_voltage_volts",
     "Battery voltage of the thermocouple loggers.", nullptr, 1, false, "voltage", "V", true},
    {"onTime", "s", 0, "lamp_on_time", "vantorel_lamp_on_time_seconds",
     "Time the lamp has been on since it was last switched on.", nullptr, 1, false, "duration", "s", false},
    {"totalOnTime", "s", 0, "lamp_on_time_total", "vantorel_lamp_on_seconds_total",
     "Time the lamp was on since the campaign started.", nullptr, 1, true, "duration", "s", false},
    {"light", "", 0, "light", "vantorel_light_level", "Light level as the lamp logger measures it (0 to 255).", nullptr, 1,
     false, nullptr, nullptr, false},
    {"lampOn", "", 0, "lamp_on", "vantorel_lamp_on", "1 when the lamp is on, else 0.", nullptr, 1, false, nullptr, nullptr,
     false},
    // Of the logger's status rather than its live read: statusValues() gives them.
    {"freeMemory", "%", 0, "memory_free", "vantorel_memory_free_ratio", "Free part of the record memory (0 to 1).", nullptr,
     0.01, false, nullptr, "%", true},
    {"recordsStored", "", 0, "records_stored", "vantorel_records_stored",
     "Records stored since the campaign started, as the window shows them.", nullptr, 1, false, nullptr, nullptr, true},
};
// clang-format on

} // namespace

const QList<Quantity> &liveQuantities()
{
    return table;
}

const Quantity *quantityNamed(const char *name)
{
    for (const Quantity &q : table)
        if (qstrcmp(q.name, name) == 0)
            return &q;
    return nullptr;
}

double shownValue(const LiveValue &value)
{
    return fixedText(value.value, value.decimals).toDouble();
}

double metricValue(const Quantity &quantity, const LiveValue &value)
{
    // A scale of 0.01 moves the shown digits two places: keep exactly those digits.
    const int extra = quantity.metricScale < 1 ? int(std::lround(-std::log10(quantity.metricScale))) : 0;
    return fixedText(shownValue(value) * quantity.metricScale, value.decimals + extra).toDouble();
}

QList<LiveValue> statusValues(const LoggerStatus &status)
{
    const double records = status.usedBytes / qMax<quint8>(1, status.recordSize);
    return {{"freeMemory", double(status.freeMemoryPercent), "%", 0, true}, {"recordsStored", records, "", 0, true}};
}

const char *haStateClass(const Quantity &quantity)
{
    return quantity.cumulative ? "total_increasing" : "measurement";
}
