#ifndef VANTOREL_STATUSDISPLAY_H
#define VANTOREL_STATUSDISPLAY_H

#include "codecs.h"
#include "loggerstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The one number formatter: the correctly rounded fixed-point text of `value` with
// `decimals` decimals (0..15), '.' decimal point, no grouping, whatever the locale. A
// value exactly halfway goes to the even last digit, as IEEE 754 and printf round.
// fixedChars writes at most FIXED_TEXT_MAX bytes and returns their count.
constexpr int FIXED_TEXT_MAX = 348;
int fixedChars(char *out, double value, int decimals);
QByteArray fixedBytes(double value, int decimals);
QString fixedText(double value, int decimals);

quint32 memoryTopFor(quint8 memorySizeCode);      // 0x3FFFF for code 4, else 0x1FFFF
quint32 memorySizeFor(quint8 memorySizeCode);     // bytes, after 0/255 became 2
float freeMemoryPercentFor(quint32 usedBytes, quint8 memorySizeCode);
QString freeMemoryText(float percent);            // "87%"
enum class BatteryLevel { VeryLow, Low, Good };
BatteryLevel batteryLevel(quint8 batteryCode);    // 0..2 very low, 3 low, 4 and above good
QString batteryText(quint8 batteryCode);          // rich text, may be empty
QString batteryName(quint8 batteryCode);          // "very low", "low", "good"

// The logger's clock minus the PC's at `pcTime`, in seconds; 0 when the logger's time is
// unknown. The logger counts the PC's local wall time it was started with.
qint64 clockOffsetSeconds(const LoggerStatus &status, const QDateTime &pcTime);

// Completes the derived fields: memorySizeCode 0/255 -> 2, recordSize, memoryTop,
// freeMemoryPercent and loggerTime. loggerTime is left invalid when the period code or
// the start time is unknown: there is no time worth showing then.
void completeStatus(LoggerStatus &status);

// Label texts of a completed status ("-" where a value is unknown). `battery` is the
// text for batteryCode; a window whose battery read failed keeps its old text instead.
struct StatusTexts {
    QString version, startTime, period, storedRecords, freeMemory, loggerTime, battery;
};
StatusTexts statusTexts(const LoggerStatus &status);

#endif
