#include "records.h"

#include "periods.h"
#include "statusdisplay.h"

#include <cstring>
#include <vector>

namespace {

const QString stampFormat = QStringLiteral("dd/MM/yyyy hh:mm:ss");

quint8 byteAt(const quint8 *image, quint64 position)
{
    return position < MEMORY_IMAGE_SIZE ? image[position] : 0;
}

quint16 wordAt(const quint8 *image, quint64 position)
{
    return quint16(byteAt(image, position) << 8 | byteAt(image, position + 1));
}

quint32 stepOf(const RecordPassParams &params)
{
    return params.recordSize == 4 ? 4 : 2;
}

// First record address that is not overflow; 0 when nothing was lost.
quint64 overflowEnd(const RecordPassParams &params)
{
    if (!params.memoryWrapped)
        return 0;
    const qint64 margin = params.periodSeconds > 0 ? 120 / params.periodSeconds : 0;
    return quint64(qMax<qint64>(0, qint64(params.endAddress) - params.topAddress + margin + 1));
}

float humidity(int word)
{
    const float rh = float(word * (word * -0.0000028 + 0.0405) - 4.0);
    return rh > 100 ? 100 : rh < 0 ? 0 : rh;
}

QByteArray fixed1(double value)
{
    return fixedBytes(value, 1);
}

} // namespace

double periodScaledValue(quint16 word, int periodSeconds)
{
    const int factor = periodScaleFactor(periodSeconds);
    if (factor == 0)
        return 0;
    return double(factor * (word / 10) / periodSeconds);
}

RecordPassParams recordPassParams(const LoggerStatus &status)
{
    RecordPassParams params;
    params.deviceType = status.deviceType;
    params.recordSize = status.recordSize;
    params.periodSeconds = periodSeconds(status.periodCode);
    params.calibrationA = status.calibrationA;
    params.calibrationB = status.calibrationB;
    params.topAddress = memoryTopFor(status.memorySizeCode);
    params.memoryWrapped = status.usedBytes > params.topAddress;
    params.endAddress = status.usedBytes;
    params.startTime = status.startTime;
    return params;
}

bool isOverflowRecord(const RecordPassParams &params, quint32 readAddress)
{
    return readAddress < overflowEnd(params);
}

QByteArray writeRecordLine(const RecordPassParams &params, const quint8 *memoryImage,
                           quint32 readAddress, const QDateTime &recordTime, bool firstRecord)
{
    QByteArray line = recordTime.isValid() ? recordTime.toString(stampFormat).toLatin1() : QByteArray("-");
    line += '\t';
    if (isOverflowRecord(params, readAddress)) {
        line += "overflow\t";
        if (params.recordSize == 4)
            line += "overflow";
        return line + "\r\n";
    }

    const quint64 i = readAddress & params.topAddress;
    const quint16 wordA = wordAt(memoryImage, i);
    const qint16 a = qint16(wordA);
    const qint16 b = qint16(wordAt(memoryImage, i + 2));
    const qint16 calibrationA = qint16(params.calibrationA);

    switch (params.deviceType) {
    case 1: line += fixed1(a * 0.0625); break;
    case 2: line += firstRecord ? QByteArray("0") : QByteArray::number(a); break;
    case 3: line += fixed1((a - 3960) / 100.0) + '\t' + fixed1(humidity(b)); break;
    case 4:
    case 9: line += firstRecord ? QByteArray("-") : fixed1(periodScaledValue(wordA, params.periodSeconds)); break;
    case 5: line += fixed1((calibrationA + a) / 256.0); break;
    case 6: line += fixed1(a * 0.125) + '\t' + fixed1(b * 0.125); break;
    case 7:
        // Power before voltage, the order of the header's columns.
        line += firstRecord ? QByteArray("-\t-")
                            : fixed1(periodScaledValue(wordA, params.periodSeconds)) + '\t'
                                  + fixed1(b * 2 / 25.0 * params.calibrationB / 2300.0);
        break;
    case 8: line += QByteArray::number(a); break;
    case 10: line += fixed1(a * 0.125 * 3.93 * 1.09) + '\t' + fixed1(b * 0.125); break;
    default: break;
    }
    return line + "\r\n";
}

// The fast pass: each column's text is looked up by its 16-bit word in a table filled
// on first use, so a download formats each distinct value once, whatever its length.
namespace {

enum class Rule { None, Sixteenth, HygroTemperature, Humidity, Scaled, Calibrated, Eighth, TypeS, Voltage, Decimal };

struct Entry {
    quint8 length;   // 0 until built
    char text[15];   // every rule's text fits: at most "-74694.3"
};

struct Column {
    Rule rule = Rule::None;
    std::vector<Entry> table;
};

constexpr int maxLineLength = 96;

} // namespace

struct RecordPass::Private {
    RecordPassParams params;
    const quint8 *image;
    quint32 step;
    quint64 address = 0;
    quint64 overflowEnd;
    quint64 lines;
    quint64 written = 0;
    bool firstRecord = true;
    const char *placeholder = nullptr;
    Column columns[2];
    int columnCount = 0;

    bool stampValid;
    QDate day;
    int secondOfDay = 0;
    char stamp[32];
    int dateLength = 0;

    double value(Rule rule, quint16 word) const;
    const Entry &entry(Column &column, quint16 word);
    void setDay();
    void setTimeOfDay();
    void advanceStamp();
    char *writeLine(char *p);
};

double RecordPass::Private::value(Rule rule, quint16 word) const
{
    const qint16 w = qint16(word);
    switch (rule) {
    case Rule::Sixteenth: return w * 0.0625;
    case Rule::HygroTemperature: return (w - 3960) / 100.0;
    case Rule::Humidity: return humidity(w);
    case Rule::Scaled: return periodScaledValue(word, params.periodSeconds);
    case Rule::Calibrated: return (qint16(params.calibrationA) + w) / 256.0;
    case Rule::Eighth: return w * 0.125;
    case Rule::TypeS: return w * 0.125 * 3.93 * 1.09;
    case Rule::Voltage: return w * 2 / 25.0 * params.calibrationB / 2300.0;
    default: return 0;
    }
}

const Entry &RecordPass::Private::entry(Column &column, quint16 word)
{
    Entry &e = column.table[word];
    if (e.length == 0) {
        const QByteArray text = column.rule == Rule::Decimal ? QByteArray::number(qint16(word))
                                                             : fixedBytes(value(column.rule, word), 1);
        e.length = quint8(qMin<qsizetype>(text.size(), sizeof e.text));
        std::memcpy(e.text, text.constData(), e.length);
    }
    return e;
}

void RecordPass::Private::setDay()
{
    const QByteArray text = day.toString(QStringLiteral("dd/MM/yyyy")).toLatin1();
    dateLength = int(qMin<qsizetype>(text.size(), 20));
    std::memcpy(stamp, text.constData(), dateLength);
    stamp[dateLength] = ' ';
    stamp[dateLength + 3] = ':';
    stamp[dateLength + 6] = ':';
}

void RecordPass::Private::setTimeOfDay()
{
    char *t = stamp + dateLength + 1;
    const int parts[3] = {secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
    for (int part : parts) {
        t[0] = char('0' + part / 10);
        t[1] = char('0' + part % 10);
        t += 3;
    }
}

void RecordPass::Private::advanceStamp()
{
    if (!stampValid || params.periodSeconds == 0)
        return;
    secondOfDay += params.periodSeconds;
    if (secondOfDay >= 86400) {
        day = day.addDays(secondOfDay / 86400);
        secondOfDay %= 86400;
        setDay();
    }
    setTimeOfDay();
}

char *RecordPass::Private::writeLine(char *p)
{
    if (stampValid) {
        std::memcpy(p, stamp, dateLength + 9);
        p += dateLength + 9;
    } else {
        *p++ = '-';
    }
    *p++ = '\t';

    if (address < overflowEnd) {
        std::memcpy(p, "overflow\t", 9);
        p += 9;
        if (step == 4) {
            std::memcpy(p, "overflow", 8);
            p += 8;
        }
    } else if (firstRecord && placeholder) {
        const size_t length = std::strlen(placeholder);
        std::memcpy(p, placeholder, length);
        p += length;
        firstRecord = false;
    } else {
        const quint64 i = address & params.topAddress;
        quint16 words[2];
        if (i + 4 <= MEMORY_IMAGE_SIZE) {
            words[0] = quint16(image[i] << 8 | image[i + 1]);
            words[1] = quint16(image[i + 2] << 8 | image[i + 3]);
        } else {
            words[0] = wordAt(image, i);
            words[1] = wordAt(image, i + 2);
        }
        for (int c = 0; c < columnCount; ++c) {
            if (c > 0)
                *p++ = '\t';
            const Entry &e = entry(columns[c], words[c]);
            std::memcpy(p, e.text, sizeof e.text);
            p += e.length;
        }
        firstRecord = false;
    }
    *p++ = '\r';
    *p++ = '\n';

    address += step;
    advanceStamp();
    return p;
}

RecordPass::RecordPass(const RecordPassParams &params, const quint8 *memoryImage)
    : d(new Private)
{
    d->params = params;
    d->image = memoryImage;
    d->step = stepOf(params);
    d->overflowEnd = overflowEnd(params);
    d->lines = (quint64(params.endAddress) + d->step - 1) / d->step;

    Rule rules[2] = {Rule::None, Rule::None};
    switch (params.deviceType) {
    case 1: rules[0] = Rule::Sixteenth; break;
    case 2: rules[0] = Rule::Decimal; d->placeholder = "0"; break;
    case 3: rules[0] = Rule::HygroTemperature; rules[1] = Rule::Humidity; break;
    case 4:
    case 9: rules[0] = Rule::Scaled; d->placeholder = "-"; break;
    case 5: rules[0] = Rule::Calibrated; break;
    case 6: rules[0] = Rule::Eighth; rules[1] = Rule::Eighth; break;
    case 7: rules[0] = Rule::Scaled; rules[1] = Rule::Voltage; d->placeholder = "-\t-"; break;
    case 8: rules[0] = Rule::Decimal; break;
    case 10: rules[0] = Rule::TypeS; rules[1] = Rule::Eighth; break;
    default: break;
    }
    for (Rule rule : rules) {
        if (rule == Rule::None)
            break;
        Column &column = d->columns[d->columnCount++];
        column.rule = rule;
        column.table.assign(65536, Entry{0, {}});
    }

    d->stampValid = params.startTime.isValid();
    if (d->stampValid) {
        d->day = params.startTime.date();
        d->secondOfDay = params.startTime.time().msecsSinceStartOfDay() / 1000;
        d->setDay();
        d->setTimeOfDay();
    }
}

RecordPass::~RecordPass() = default;

bool RecordPass::atEnd() const
{
    return d->written >= d->lines;
}

quint64 RecordPass::linesWritten() const
{
    return d->written;
}

quint64 RecordPass::lineCount() const
{
    return d->lines;
}

void RecordPass::writeLines(QByteArray &out, int maxLines)
{
    if (maxLines <= 0)
        return;
    const quint64 count = qMin<quint64>(quint64(maxLines), d->lines - d->written);
    const qsizetype start = out.size();
    out.resize(start + qsizetype(count) * maxLineLength);
    char *begin = out.data();
    char *p = begin + start;
    for (quint64 n = 0; n < count; ++n)
        p = d->writeLine(p);
    d->written += count;
    out.resize(p - begin);
}
