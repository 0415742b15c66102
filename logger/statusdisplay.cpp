#include "statusdisplay.h"

#include "devicetypes.h"
#include "periods.h"

#include <charconv>

namespace {

quint8 effectiveSizeCode(quint8 memorySizeCode)
{
    return memorySizeCode == 0 || memorySizeCode == 255 ? 2 : memorySizeCode;
}

const QString dateTimeFormat = QStringLiteral("dd/MM/yy hh:mm:ss");

QString dateTimeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(dateTimeFormat) : QStringLiteral("-");
}

} // namespace

int fixedChars(char *out, double value, int decimals)
{
    // Qt's number() rounds halfway values away from zero; to_chars rounds them to even.
    const std::to_chars_result result =
        std::to_chars(out, out + FIXED_TEXT_MAX, value, std::chars_format::fixed, qBound(0, decimals, 15));
    return result.ec == std::errc() ? int(result.ptr - out) : 0;
}

QByteArray fixedBytes(double value, int decimals)
{
    char text[FIXED_TEXT_MAX];
    return QByteArray(text, fixedChars(text, value, decimals));
}

QString fixedText(double value, int decimals)
{
    return QString::fromLatin1(fixedBytes(value, decimals));
}

quint32 memoryTopFor(quint8 memorySizeCode)
{
    return memorySizeCode == 4 ? 0x3FFFF : 0x1FFFF;
}

quint32 memorySizeFor(quint8 memorySizeCode)
{
    return quint32(effectiveSizeCode(memorySizeCode)) * 65536u;
}

float freeMemoryPercentFor(quint32 usedBytes, quint8 memorySizeCode)
{
    const quint32 size = memorySizeFor(memorySizeCode);
    if (usedBytes > size)
        return 0;
    return float((size - usedBytes) * 100u / size);
}

QString freeMemoryText(float percent)
{
    return QString::number(percent, 'g', 6) + QLatin1Char('%');
}

BatteryLevel batteryLevel(quint8 batteryCode)
{
    return batteryCode <= 2 ? BatteryLevel::VeryLow : batteryCode == 3 ? BatteryLevel::Low : BatteryLevel::Good;
}

QString batteryText(quint8 batteryCode)
{
    switch (batteryLevel(batteryCode)) {
    case BatteryLevel::VeryLow: return QStringLiteral("<font color= red>Very low Battery</font> ");
    case BatteryLevel::Low: return QStringLiteral("<font color= orange>Low Battery</font> ");
    case BatteryLevel::Good: break;
    }
    return QString();
}

QString batteryName(quint8 batteryCode)
{
    switch (batteryLevel(batteryCode)) {
    case BatteryLevel::VeryLow: return QStringLiteral("very low");
    case BatteryLevel::Low: return QStringLiteral("low");
    case BatteryLevel::Good: break;
    }
    return QStringLiteral("good");
}

qint64 clockOffsetSeconds(const LoggerStatus &status, const QDateTime &pcTime)
{
    if (!status.loggerTime.isValid() || !pcTime.isValid())
        return 0;
    const QDateTime local = pcTime.toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC).secsTo(status.loggerTime);
}

void completeStatus(LoggerStatus &status)
{
    status.memorySizeCode = effectiveSizeCode(status.memorySizeCode);
    status.recordSize = recordSizeOf(status.deviceType);
    status.memoryTop = memoryTopFor(status.memorySizeCode);
    status.freeMemoryPercent = freeMemoryPercentFor(status.usedBytes, status.memorySizeCode);

    const int period = periodSeconds(status.periodCode);
    if (period == 0 || !status.startTime.isValid()) {
        status.loggerTime = QDateTime(QDate(), QTime(), Qt::UTC);
        return;
    }
    // Past 32 bits of seconds the logger's own count would wrap: no time it could show.
    const quint64 elapsed = quint64(status.storedRecords()) * quint64(period) + status.secondsInPeriod;
    if (elapsed > 0xFFFFFFFFu) {
        status.loggerTime = QDateTime(QDate(), QTime(), Qt::UTC);
        return;
    }
    status.loggerTime = status.startTime.addSecs(qint64(elapsed));
    if (status.usedBytes > status.memoryTop)
        status.loggerTime = status.loggerTime.addSecs(-period);
}

StatusTexts statusTexts(const LoggerStatus &status)
{
    StatusTexts texts;
    texts.version = QLatin1Char('v') + QString::number(status.version);
    texts.startTime = dateTimeText(status.startTime);
    const bool knownPeriod = isValidPeriodCode(status.periodCode);
    texts.period = knownPeriod ? periodLabel(status.periodCode) : QStringLiteral("-");
    texts.storedRecords = QString::number(status.storedRecords());
    texts.freeMemory = freeMemoryText(status.freeMemoryPercent);
    texts.loggerTime = knownPeriod ? dateTimeText(status.loggerTime) : QStringLiteral("-");
    texts.battery = batteryText(status.batteryCode);
    return texts;
}
