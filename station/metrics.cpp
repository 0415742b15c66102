#include "metrics.h"

#include "alarms.h"
#include "codecs.h"
#include "devicetypes.h"
#include "quantities.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <charconv>
#include <cmath>
#include <iterator>
#include <sstream>

namespace Station {

namespace {

using prometheus::Labels;

// The serializer prints 16 significant digits, so 0.557 comes out as 0.5570000000000001:
// each sample's value is printed again as the shortest text that reads back as the same number.
std::string shortestNumbers(const std::string &text)
{
    std::string result;
    result.reserve(text.size());
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line); result += line + '\n') {
        const size_t space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos)
            continue;
        const char *first = line.data() + space + 1, *last = line.data() + line.size();
        double value = 0;
        if (std::from_chars(first, last, value).ptr != last || !std::isfinite(value))
            continue;   // NaN, +Inf and -Inf stay as the serializer writes them
        char shortest[32];
        const std::to_chars_result shown = std::to_chars(std::begin(shortest), std::end(shortest), value);
        line.replace(space + 1, std::string::npos, shortest, size_t(shown.ptr - shortest));
    }
    return result;
}

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
        return shortestNumbers(out.str());
    }

private:
    prometheus::Registry registry;
    std::map<std::string, prometheus::Family<prometheus::Gauge> *> gauges;
    std::map<std::string, prometheus::Family<prometheus::Counter> *> counters;
};

const char *helpOf(const Quantity &q)
{
    if (q.help)
        return q.help;
    for (const Quantity &first : liveQuantities())
        if (qstrcmp(first.metric, q.metric) == 0 && first.help)
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
        const Quantity *q = quantityNamed(v.name);
        if (!q || !v.known)
            continue;
        Labels labels{{"serial", serial}};
        if (q->channel)
            labels.emplace("channel", q->channel);
        // The number the window shows, so that every front end agrees to the last digit.
        const double value = metricValue(*q, v);
        if (q->cumulative)
            families.counter(q->metric, helpOf(*q), labels).Increment(value);
        else
            families.gauge(q->metric, helpOf(*q), labels).Set(value);
    }
    const quint32 records = s.usedBytes / qMax<quint8>(1, s.recordSize);
    families.gauge("vantorel_records_stored", "Records stored since the campaign started, as the window shows them.",
                   {{"serial", serial}}).Set(records);
    families.gauge("vantorel_memory_free_ratio", "Free part of the record memory (0 to 1).", {{"serial", serial}})
        .Set(s.freeMemoryPercent / 100.0);
    families.gauge("vantorel_last_reading_timestamp_seconds", "When the station last read the logger (Unix time).",
                   {{"serial", serial}}).Set(double(p.readAt.toMSecsSinceEpoch()) / 1000.0);
}

void addAlarms(Families &families, const AlarmSnapshot &snapshot)
{
    for (const AlarmStatus &a : snapshot.alarms) {
        const Labels labels{{"name", utf8(a.name)}, {"serial", utf8(a.serial)}, {"channel", utf8(a.channel)},
                            {"quantity", utf8(a.quantity)}, {"alarm", utf8(alarmKindName(a.kind))}};
        families.gauge("vantorel_alarm_active", "1 while the alarm is active, else 0.", labels).Set(a.active ? 1 : 0);
        if (a.threshold)
            families.gauge("vantorel_alarm_threshold", "The alarm's limit, in the base units of its quantity.", labels)
                .Set(*a.threshold);
    }
    const char *failures = "Alarm commands that failed, and alarm changes the archive did not record.";
    families.counter("vantorel_alarm_failures_total", failures, {{"what", "command"}}).Increment(snapshot.commandFailures);
    families.counter("vantorel_alarm_failures_total", failures, {{"what", "audit"}}).Increment(snapshot.auditFailures);
}

} // namespace

QByteArray metricsText(const QList<PortReading> &ports, const AlarmSnapshot *alarms)
{
    Families families;
    for (const PortReading &p : ports)
        families.gauge("vantorel_up", "1 when a logger answered at the last poll of the port, else 0.",
                       {{"port", utf8(p.port)}}).Set(p.up ? 1 : 0);
    for (const PortReading &p : ports)
        if (p.up)
            addLogger(families, p);
    if (alarms)
        addAlarms(families, *alarms);
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
