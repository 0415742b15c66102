#ifndef VANTOREL_CAMPAIGN_H
#define VANTOREL_CAMPAIGN_H

#include <QDateTime>
#include <QtGlobal>

// The start of a new campaign, aligned to its period: `start` = now - remainder, where
// remainder = (seconds since 1970 UTC) mod period.
struct AlignedStart {
    QDateTime start;
    quint16 remainder = 0;
};
AlignedStart alignedStart(const QDateTime &now, int periodSeconds);

// Records the memory holds: memoryTop / recordSize (0 when recordSize is 0).
quint32 recordCapacity(quint32 memoryTop, quint8 recordSize);
// When the memory will be full at that period, aligned like the start.
QDateTime memoryFullDate(const QDateTime &now, quint32 memoryTop, quint8 recordSize, int periodSeconds);

// The clock bytes of a start, in the order they are written:
// hour, minute, second, year mod 100, month, day, all BCD.
struct StartClockBytes { quint8 bytes[6]; };
StartClockBytes startClockBytes(const QDateTime &localStart);

#endif
