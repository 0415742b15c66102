#include "campaign.h"

#include "codecs.h"

namespace {

quint16 remainderOf(const QDateTime &now, int periodSeconds)
{
    if (periodSeconds <= 0)
        return 0;
    const qint64 seconds = now.toMSecsSinceEpoch() / 1000;
    return quint16(((seconds % periodSeconds) + periodSeconds) % periodSeconds);
}

} // namespace

AlignedStart alignedStart(const QDateTime &now, int periodSeconds)
{
    AlignedStart aligned;
    aligned.remainder = remainderOf(now, periodSeconds);
    aligned.start = now.addSecs(-aligned.remainder);
    return aligned;
}

quint32 recordCapacity(quint32 memoryTop, quint8 recordSize)
{
    return recordSize == 0 ? 0 : memoryTop / recordSize;
}

QDateTime memoryFullDate(const QDateTime &now, quint32 memoryTop, quint8 recordSize, int periodSeconds)
{
    const qint32 seconds = periodSeconds > 0 ? qint32(recordCapacity(memoryTop, recordSize) * quint32(periodSeconds)) : 0;
    return now.addSecs(seconds).addSecs(-remainderOf(now, periodSeconds));
}

StartClockBytes startClockBytes(const QDateTime &localStart)
{
    const QDate date = localStart.date();
    const QTime time = localStart.time();
    return {{toBcd(quint8(time.hour())), toBcd(quint8(time.minute())), toBcd(quint8(time.second())),
             toBcd(quint8(date.year() % 100)), toBcd(quint8(date.month())), toBcd(quint8(date.day()))}};
}
