#include "metrics.h"

#include "alarms.h"
#include "codecs.h"
#include "devicetypes.h"
#include "quantities.h"
#include "statusdisplay.h"

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

qint64 clockOffsetSeconds(const PortReading &p)
{
    // The logger keeps its local time without a zone: compared with the station's local time.
    const QDateTime local = p.readAt.toLocalTime();
    const QDateTime stationAsLogger(local.date(), local.time(), Qt::UTC);
    return stationAsLogger.secsTo(p.status.loggerTime);
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
    families.gauge("vantorel_records_stored", "Records stored since the campaign started, as the window shows them.",
                   {{"serial", serial}}).Set(s.storedRecords());
    families.gauge("vantorel_memory_free_ratio", "Free part of the record memory (0 to 1).", {{"serial", serial}})
        .Set(s.freeMemoryPercent / 100.0);
    families.gauge("vantorel_last_reading_timestamp_seconds", "When the station last read the logger (Unix time).",
                   {{"serial", serial}}).Set(double(p.readAt.toMSecsSinceEpoch()) / 1000.0);
    if (p.batteryRead)
        families.gauge("vantorel_battery_level", "Battery level as the logger reports it: 0 to 2 very low, 3 low, 4 and above good.",
                       {{"serial", serial}}).Set(s.batteryCode);
    if (s.loggerTime.isValid() && p.readAt.isValid())
        families.gauge("vantorel_clock_offset_seconds", "The logger's clock minus the station's (its local time, to the second).",
                       {{"serial", serial}}).Set(double(clockOffsetSeconds(p)));
}

void addCounts(Families &families, const QList<PortReading> &ports)
{
    quint64 archiveErrors = 0;
    QMap<quint32, DownloadCount> downloads;
    for (const PortReading &p : ports) {
        archiveErrors += p.archiveErrors;
        for (auto it = p.portErrors.cbegin(); it != p.portErrors.cend(); ++it)
            families.counter("vantorel_port_errors_total", "Times a port could not be opened, by reason.",
                             {{"port", utf8(p.port)}, {"reason", utf8(it.key())}}).Increment(double(it.value()));
        for (auto it = p.downloads.cbegin(); it != p.downloads.cend(); ++it) {
            DownloadCount &sum = downloads[it.key()];
            sum.ok += it->ok, sum.failed += it->failed;
            if (it->last.isValid() && (!sum.last.isValid() || it->last > sum.last))
                sum.last = it->last;
        }
    }
    for (auto it = downloads.cbegin(); it != downloads.cend(); ++it) {
        const std::string serial = utf8(formatDeviceAddress(it.key()));
        const char *help = "Downloads of the logger, by result (ok: its file written).";
        families.counter("vantorel_downloads_total", help, {{"serial", serial}, {"result", "ok"}}).Increment(double(it->ok));
        families.counter("vantorel_downloads_total", help, {{"serial", serial}, {"result", "failed"}}).Increment(double(it->failed));
        if (it->last.isValid())
            families.gauge("vantorel_last_download_timestamp_seconds", "When the logger's last download wrote its file (Unix time).",
                           {{"serial", serial}}).Set(double(it->last.toSecsSinceEpoch()));
    }
    families.counter("vantorel_archive_errors_total", "Downloads whose file was written but whose archive step failed.", {})
        .Increment(double(archiveErrors));
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

QByteArray metricsText(const QList<PortReading> &ports, const AlarmSnapshot *alarms, std::optional<quint64> mqttFailures)
{
    Families families;
    for (const PortReading &p : ports)
        if (p.loggerSeen)
            families.gauge("vantorel_up", "1 when a logger answered at the last poll of the port, else 0.",
                           {{"port", utf8(p.port)}}).Set(p.up ? 1 : 0);
    for (const PortReading &p : ports)
        if (p.up)
            addLogger(families, p);
    addCounts(families, ports);
    if (alarms)
        addAlarms(families, *alarms);
    if (mqttFailures)
        families.counter("vantorel_mqtt_errors_total", "Connections to the MQTT broker that failed, and links to it lost.", {})
            .Increment(double(*mqttFailures));
    return QByteArray::fromStdString(families.text());
}

QByteArray indexPage(const QList<PortReading> &ports)
{
    QString rows;
    for (const PortReading &p : ports) {
        if (!p.loggerSeen)
            continue;
        const QString dash = QStringLiteral("-");
        const QString serial = p.up ? formatDeviceAddress(p.status.address) : dash;
        const QString model = p.up ? screenNameOf(p.status.deviceType) : dash;
        QStringList values;
        for (const LiveValue &v : p.values)
            values << QStringLiteral("%1 %2 %3").arg(QString::fromLatin1(v.name), v.known ? fixedText(v.value, v.decimals) : dash,
                                                     QString::fromUtf8(v.unit)).trimmed();
        const QDateTime download = p.downloads.value(p.status.address).last;
        const QString cells = QStringList{p.port, serial, model, p.up ? QStringLiteral("answering") : QStringLiteral("not answering"),
                                          p.up ? values.join(QStringLiteral(", ")) : dash,
                                          p.up && p.batteryRead ? batteryName(p.status.batteryCode) : dash,
                                          p.readAt.isValid() ? p.readAt.toLocalTime().toString(Qt::ISODate) : dash,
                                          p.up && download.isValid() ? download.toLocalTime().toString(Qt::ISODate) : dash}
                                  .join(QChar(0x1F));
        rows += QStringLiteral("<tr><td>") + cells.toHtmlEscaped().replace(QChar(0x1F), QStringLiteral("</td><td>"))
                + QStringLiteral("</td></tr>\n");
    }
    if (rows.isEmpty())
        rows = QStringLiteral("<tr><td colspan=\"8\">no logger found yet</td></tr>\n");
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>VanTorel station</title></head>\n"
                          "<body><h1>VanTorel station</h1>\n<p><a href=\"/metrics\">Metrics</a> (Prometheus text format)</p>\n"
                          "<table>\n<tr><th>Port</th><th>Serial number</th><th>Model</th><th>State</th><th>Live values</th>"
                          "<th>Battery</th><th>Last reading</th><th>Last download</th></tr>\n%1</table>\n"
                          "</body></html>\n")
        .arg(rows)
        .toUtf8();
}

} // namespace Station
