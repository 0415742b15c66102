#include "metrics.h"

#include "codecs.h"
#include "devicetypes.h"
#include "statusdisplay.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <sstream>

namespace Station {

namespace {

using prometheus::Labels;

// How a live value of liveValues() is exposed: base units, ratios for percentages.
struct LiveMetric {
    const char *value;             // LiveValue::name
    const char *metric;
    const char *help;
    const char *channel;           // label "channel" when not null
    double scale;
    bool counter;
};

const LiveMetric liveMetrics[] = {
    {"temperature", "vantorel_temperature_celsius", "Temperature, by channel.", "1", 1, false},
    {"t1", "vantorel_temperature_celsius", nullptr, "1", 1, false},
    {"t2", "vantorel_temperature_celsius", nullptr, "2", 1, false},
    {"humidity", "vantorel_relative_humidity_ratio", "Relative humidity (0 to 1).", nullptr, 0.01, false},
    {"pulses", "vantorel_pulses_total", "Pulses counted since the campaign started.", nullptr, 1, true},
    {"activePower", "vantorel_power_watts", "Active power.", nullptr, 1, false},
    {"voltage", "vantorel_voltage_volts", "Line voltage.", nullptr, 1, false},
    {"current", "vantorel_current_amperes", "Line current.", nullptr, 1, false},
    {"powerFactor", "vantorel_power_factor_ratio", "Power factor (0 to 1).", nullptr, 1, false},
    {"batteryVoltage", "vantorel_battery_voltage_volts", "Battery voltage of the thermocouple loggers.", nullptr, 1, false},
    {"onTime", "vantorel_lamp_on_time_seconds", "Time the lamp has been on since it was last switched on.", nullptr, 1, false},
    {"totalOnTime", "vantorel_lamp_on_seconds_total", "Time the lamp was on since the campaign started.", nullptr, 1, true},
    {"light", "vantorel_light_level", "Light level as the lamp logger measures it (0 to 255).", nullptr, 1, false},
    {"lampOn", "vantorel_lamp_on", "1 when the lamp is on, else 0.", nullptr, 1, false},
};

class Families
{
public:
    prometheus::Gauge &gauge(const char *name, const char *help, const Labels &labels)
    {
        auto found = gauges.find(name);
        if (found == gauges.end())
            found = gauges.emplace(name, &prometheus::BuildGauge().Name(name).Help(help).Register(registry)).first;
        return found->second->Add(labels);
    }
    prometheus::Counter &counter(const char *name, const char *help, const Labels &labels)
    {
        auto found = counters.find(name);
        if (found == counters.end())
            found = counters.emplace(name, &prometheus::BuildCounter().Name(name).Help(help).Register(registry)).first;
        return found->second->Add(labels);
    }
    std::string text() const
    {
        std::ostringstream out;
        prometheus::TextSerializer().Serialize(out, registry.Collect());
        return out.str();
    }

private:
    prometheus::Registry registry;
    std::map<std::string, prometheus::Family<prometheus::Gauge> *> gauges;
    std::map<std::string, prometheus::Family<prometheus::Counter> *> counters;
};

const LiveMetric *liveMetricFor(const char *valueName)
{
    for (const LiveMetric &m : liveMetrics)
        if (qstrcmp(m.value, valueName) == 0)
            return &m;
    return nullptr;
}

const char *helpOf(const LiveMetric &m)
{
    if (m.help)
        return m.help;
    for (const LiveMetric &first : liveMetrics)
        if (qstrcmp(first.metric, m.metric) == 0 && first.help)
            return first.help;
    return "";
}

std::string utf8(const QString &text)
{
    return text.toStdString();
}

void addLogger(Families &families, const PortReading &p)
{
    const LoggerStatus &s = p.status;
    const std::string serial = utf8(formatDeviceAddress(s.address));
    families.gauge("vantorel_logger_info", "The logger on a port: serial number, type code, model and version.",
                   {{"port", utf8(p.port)}, {"serial", serial}, {"type", std::to_string(s.deviceType)},
                    {"model", utf8(screenNameOf(s.deviceType))}, {"version", std::to_string(s.version)}})
        .Set(1);
    for (const LiveValue &v : p.values) {
        const LiveMetric *m = liveMetricFor(v.name);
        if (!m || !v.known)
            continue;
        Labels labels{{"serial", serial}};
        if (m->channel)
            labels.emplace("channel", m->channel);
        // The number the window shows, so that every front end agrees to the last digit.
        const double value = fixedText(v.value, v.decimals).toDouble() * m->scale;
        if (m->counter)
            families.counter(m->metric, helpOf(*m), labels).Increment(value);
        else
            families.gauge(m->metric, helpOf(*m), labels).Set(value);
    }
    const quint32 records = s.usedBytes / qMax<quint8>(1, s.recordSize);
    families.gauge("vantorel_records_stored", "Records stored since the campaign started, as the window shows them.",
                   {{"serial", serial}}).Set(records);
    families.gauge("vantorel_memory_free_ratio", "Free part of the record memory (0 to 1).", {{"serial", serial}})
        .Set(s.freeMemoryPercent / 100.0);
    families.gauge("vantorel_last_reading_timestamp_seconds", "When the station last read the logger (Unix time).",
                   {{"serial", serial}}).Set(double(p.readAt.toMSecsSinceEpoch()) / 1000.0);
}

} // namespace

QByteArray metricsText(const QList<PortReading> &ports)
{
    Families families;
    for (const PortReading &p : ports)
        families.gauge("vantorel_up", "1 when a logger answered at the last poll of the port, else 0.",
                       {{"port", utf8(p.port)}}).Set(p.up ? 1 : 0);
    for (const PortReading &p : ports)
        if (p.up)
            addLogger(families, p);
    return QByteArray::fromStdString(families.text());
}

QByteArray indexPage(const QList<PortReading> &ports)
{
    QString rows;
    for (const PortReading &p : ports) {
        const QString serial = p.up ? formatDeviceAddress(p.status.address) : QStringLiteral("-");
        const QString model = p.up ? screenNameOf(p.status.deviceType) : QStringLiteral("-");
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                    .arg(p.port.toHtmlEscaped(), serial.toHtmlEscaped(), model.toHtmlEscaped(),
                         p.up ? QStringLiteral("answering") : QStringLiteral("not answering"));
    }
    if (rows.isEmpty())
        rows = QStringLiteral("<tr><td colspan=\"4\">no logger found yet</td></tr>\n");
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>VanTorel station</title></head>\n"
                          "<body><h1>VanTorel station</h1>\n<p><a href=\"/metrics\">Metrics</a> (Prometheus text format)</p>\n"
                          "<table>\n<tr><th>Port</th><th>Serial number</th><th>Model</th><th>State</th></tr>\n%1</table>\n"
                          "</body></html>\n")
        .arg(rows)
        .toUtf8();
}

} // namespace Station
