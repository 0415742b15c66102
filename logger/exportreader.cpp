#include "exportreader.h"

#include "devicetypes.h"

#include <QBuffer>
#include <QFileInfo>
#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr int MAX_LINE = 1024;          // a record line is well under 100 bytes
constexpr qint64 CHUNK = 1 << 20;
constexpr qint64 MIN_RECORD_LINE = 22;  // "dd/MM/yyyy hh:mm:ss\t-\n"

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = int(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 z, int &y, int &m, int &d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = int(z - era * 146097);
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(yoe + era * 400 + (m <= 2));
}

bool digits(const char *p, int n, int &value)
{
    value = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

// "dd/MM/yyyy hh:mm:ss" to UTC seconds.
bool parseStamp(const char *p, const char *end, qint64 &seconds)
{
    if (end - p == 1 && *p == '-') {
        seconds = ExportData::NO_TIME;
        return true;
    }
    if (end - p != 19 || p[2] != '/' || p[5] != '/' || p[10] != ' ' || p[13] != ':' || p[16] != ':')
        return false;
    int d, m, y, hh, mm, ss;
    if (!digits(p, 2, d) || !digits(p + 3, 2, m) || !digits(p + 6, 4, y) || !digits(p + 11, 2, hh)
        || !digits(p + 14, 2, mm) || !digits(p + 17, 2, ss))
        return false;
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || hh > 23 || mm > 59 || ss > 59)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d < 1 || d > monthDays[m - 1] + (m == 2 && leap))
        return false;
    seconds = daysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
    return true;
}

QString headerText(const QByteArray &line)
{
    // A spreadsheet may have saved the degree sign as UTF-8; otherwise it is Latin-1.
    const QString utf8 = QString::fromUtf8(line);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(line) : utf8;
}

QStringList headerFields(const QByteArray &line)
{
    QStringList fields = headerText(line).split(QLatin1Char('\t'));
    while (fields.size() > 1 && fields.last().isEmpty())
        fields.removeLast();
    return fields;
}

class Parser
{
public:
    Parser(const QString &name, ExportData &data, QString &error) : name(name), data(data), error(error) {}

    bool fail(const QString &reason)
    {
        error = QStringLiteral("%1, line %2: %3").arg(name).arg(lineNumber).arg(reason);
        return false;
    }

    // One line without its line end.
    bool line(const char *b, const char *e)
    {
        ++lineNumber;
        if (e > b && e[-1] == '\r')
            --e;
        if (lineNumber <= 4)
            return headerLine(QByteArray(b, int(e - b)));
        // Empty lines may end a file a spreadsheet saved, nowhere else.
        if (b == e) {
            if (!firstBlankLine)
                firstBlankLine = lineNumber;
            return true;
        }
        if (firstBlankLine) {
            lineNumber = firstBlankLine;
            return fail(QStringLiteral("empty line"));
        }
        return recordLine(b, e);
    }

    bool finish()
    {
        if (lineNumber < 4) {
            ++lineNumber;
            return fail(QStringLiteral("the file ends inside the four header lines"));
        }
        return true;
    }

    int lineNumber = 0;

private:
    bool headerLine(QByteArray text)
    {
        if (lineNumber == 1 && text.startsWith("\xEF\xBB\xBF"))
            text.remove(0, 3);
        const QStringList fields = headerFields(text);
        switch (lineNumber) {
        case 1:
            if (fields.size() != 1 || fields[0] != QLatin1String("Vantorel"))
                return fail(QStringLiteral("not a VanTorel export file (the first line must be \"Vantorel\")"));
            return true;
        case 2:
            if (fields.size() != 2 || !fields[0].isEmpty() || fields[1].isEmpty() || fields[1].size() > 8
                || fields[1].contains(QRegularExpression(QStringLiteral("[^0-9A-Fa-f]"))))
                return fail(QStringLiteral("the serial number is missing or not hexadecimal"));
            data.serial = fields[1];
            return true;
        case 3:
            if (fields.size() < 2 || !fields[0].isEmpty() || fields.size() > 9)
                return fail(QStringLiteral("the column names are missing"));
            data.columnNames = fields.mid(1);
            return true;
        default:
            if (fields.size() < 2 || fields[0] != QLatin1String("Date"))
                return fail(QStringLiteral("the units line must start with \"Date\""));
            data.units = fields.mid(1);
            if (data.units.size() != data.columnNames.size())
                return fail(QStringLiteral("%1 units for %2 column names").arg(data.units.size()).arg(data.columnNames.size()));
            columns = data.units.size();
            data.values.assign(size_t(columns), {});
            for (auto &column : data.values)
                column.reserve(reserve);
            data.times.reserve(reserve);
            data.rowKinds.reserve(reserve);
            data.typeName = data.columnNames.join(QStringLiteral(", "));
            for (const DeviceType &type : knownDeviceTypes()) {
                if (QString::fromLatin1(type.exportName).split(QLatin1Char('\t')) == data.columnNames
                    && QString::fromLatin1(type.exportUnits).split(QLatin1Char('\t')) == data.units) {
                    data.deviceType = type.code;
                    break;
                }
            }
            return true;
        }
    }

    bool recordLine(const char *b, const char *e)
    {
        const char *fields[16];
        const char *ends[16];
        int count = 0;
        for (const char *p = b;;) {
            const char *tab = static_cast<const char *>(std::memchr(p, '\t', size_t(e - p)));
            if (count == 16)
                return fail(QStringLiteral("%1 values where the header names %2").arg(count - 1).arg(columns));
            fields[count] = p;
            ends[count++] = tab ? tab : e;
            if (!tab)
                break;
            p = tab + 1;
        }
        // An overflow line of 2-byte records ends in a TAB; spreadsheets may pad lines too.
        while (count > columns + 1 && fields[count - 1] == ends[count - 1])
            --count;
        if (count != columns + 1)
            return fail(QStringLiteral("%1 values where the header names %2").arg(count - 1).arg(columns));
        qint64 stamp;
        if (!parseStamp(fields[0], ends[0], stamp))
            return fail(QStringLiteral("the time stamp \"%1\" is not a date dd/MM/yyyy hh:mm:ss")
                            .arg(QString::fromLatin1(fields[0], int(ends[0] - fields[0])).left(40)));
        quint8 kind = ExportData::Values;
        for (int c = 0; c < columns; ++c) {
            const char *p = fields[c + 1];
            const char *end = ends[c + 1];
            double value = std::nan("");
            if (end - p == 8 && std::memcmp(p, "overflow", 8) == 0) {
                kind = ExportData::Overflow;
            } else if (p != end && !(end - p == 1 && *p == '-')) {
                const auto result = std::from_chars(p, end, value);
                if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
                    return fail(QStringLiteral("\"%1\" is not a number")
                                    .arg(QString::fromLatin1(p, int(end - p)).left(40)));
            }
            data.values[size_t(c)].push_back(value);
        }
        data.times.push_back(stamp);
        data.rowKinds.push_back(kind);
        return true;
    }

public:
    size_t reserve = 0;

private:
    const QString &name;
    ExportData &data;
    QString &error;
    int columns = 0;
    int firstBlankLine = 0;
};

void reset(ExportData &data, const QString &name)
{
    data = ExportData();
    data.fileName = name;
}

} // namespace

bool ExportData::isCelsius(int column) const
{
    return units.value(column) == QStringLiteral("\u00B0C");
}

QString ExportData::columnTitle(int column) const
{
    return columnNames.value(column) + QStringLiteral(" (") + units.value(column) + QLatin1Char(')');
}

// Line by line in chunks: memory stays flat whatever the size, and a file without line
// ends stops at its first too long line.
bool readExport(QIODevice &device, const QString &path, ExportData &data, QString &error)
{
    reset(data, QFileInfo(path).fileName());
    Parser parser(path, data, error);
    // Reserved but untouched memory costs nothing; this spares the copies of growing.
    parser.reserve = size_t(qMin<qint64>(device.size() / MIN_RECORD_LINE + 1, 64 << 20));
    // What is kept of a line never exceeds MAX_LINE, so a chunk always fits behind it.
    const qint64 chunk = qMin(CHUNK, qMax<qint64>(device.size(), MAX_LINE + 1));
    QByteArray buffer(int(chunk + MAX_LINE + 1), Qt::Uninitialized);
    qint64 kept = 0;
    for (;;) {
        const qint64 got = device.read(buffer.data() + kept, chunk);
        if (got < 0) {
            error = QStringLiteral("%1: read error (%2)").arg(path, device.errorString());
            return false;
        }
        const char *p = buffer.constData();
        const char *end = p + kept + got;
        const bool last = got == 0;
        while (p < end) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl && !last && end - p <= MAX_LINE)
                break;  // the rest of this line comes with the next chunk
            const char *lineEnd = nl ? nl : end;
            if (lineEnd - p > MAX_LINE) {
                ++parser.lineNumber;
                return parser.fail(QStringLiteral("the line is too long for an export file"));
            }
            if (!parser.line(p, lineEnd))
                return false;
            p = nl ? nl + 1 : end;
        }
        kept = end - p;
        std::memmove(buffer.data(), p, size_t(kept));
        if (last)
            break;
    }
    return parser.finish();
}

bool parseExportText(const QByteArray &text, const QString &name, ExportData &data, QString &error)
{
    QBuffer buffer(const_cast<QByteArray *>(&text));
    buffer.open(QIODevice::ReadOnly);
    return readExport(buffer, name, data, error);
}

QString stampText(qint64 seconds)
{
    if (seconds == ExportData::NO_TIME)
        return QStringLiteral("-");
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 rest = seconds - days * 86400;
    int y, m, d;
    civilFromDays(days, y, m, d);
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(d) + QLatin1Char('/') + two(m) + QLatin1Char('/') + QStringLiteral("%1").arg(y, 4, 10, QLatin1Char('0'))
        + QLatin1Char(' ') + two(rest / 3600) + QLatin1Char(':') + two(rest / 60 % 60) + QLatin1Char(':')
        + two(rest % 60);
}

QString durationText(qint64 seconds)
{
    const qint64 days = seconds / 86400;
    const qint64 rest = seconds % 86400;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(rest / 3600, 2, 10, QLatin1Char('0'))
                              .arg(rest / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(rest % 60, 2, 10, QLatin1Char('0'));
    return days ? QStringLiteral("%1 d ").arg(days) + clock : clock;
}
