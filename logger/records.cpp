#include "records.h"

#include "devicetypes.h"
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

// The text of one value column, the same for the line writer and the fast pass.
QByteArray columnText(const RecordColumn &column, quint16 word, const RecordPassParams &params)
{
    return fixedBytes(column.value(word, params), column.decimals);
}

int columnCount(const DeviceType &type)
{
    return type.columns[1].value ? 2 : type.columns[0].value ? 1 : 0;
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

    const DeviceType *type = deviceTypeInfo(params.deviceType);
    if (!type)
        return line + "\r\n";
    if (firstRecord && type->firstRecordText)
        return line + type->firstRecordText + "\r\n";
    const quint64 i = readAddress & params.topAddress;
    const quint16 words[2] = {wordAt(memoryImage, i), wordAt(memoryImage, i + 2)};
    for (int c = 0; c < columnCount(*type); ++c) {
        if (c > 0)
            line += '\t';
        line += columnText(type->columns[c], words[c], params);
    }
    return line + "\r\n";
}

// The fast pass: each column's text is looked up by its 16-bit word in a table filled
// on first use, so a download formats each distinct value once, whatever its length.
namespace {

struct Entry {
    quint8 length;   // 0 until built
    char text[15];   // every rule's text fits: at most "-74694.3"
};

struct Column {
    const RecordColumn *rule = nullptr;
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

    const Entry &entry(Column &column, quint16 word);
    void setDay();
    void setTimeOfDay();
    void advanceStamp();
    char *writeLine(char *p);
};

const Entry &RecordPass::Private::entry(Column &column, quint16 word)
{
    Entry &e = column.table[word];
    if (e.length == 0) {
        const QByteArray text = columnText(*column.rule, word, params);
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

    if (const DeviceType *type = deviceTypeInfo(params.deviceType)) {
        d->placeholder = type->firstRecordText;
        d->columnCount = columnCount(*type);
        for (int c = 0; c < d->columnCount; ++c) {
            d->columns[c].rule = &type->columns[c];
            d->columns[c].table.assign(65536, Entry{0, {}});
        }
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
