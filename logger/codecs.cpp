#include "codecs.h"

quint8 toBcd(quint8 value)
{
    return quint8((value / 10) * 16 + value % 10);
}

quint8 fromBcd(quint8 byte)
{
    return quint8((byte >> 4) * 10 + (byte & 0x0F));
}

QString formatDeviceAddress(quint32 address)
{
    return QStringLiteral("%1").arg(address, address <= 0xFFFF ? 4 : 8, 16, QLatin1Char('0')).toUpper();
}

QDateTime startTimeFromBcd(const quint8 *bytes)
{
    // A nibble above 9 is no BCD digit: the clock bytes are garbage, not a date.
    for (int i = 0; i < 6; ++i)
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 0x0F) > 9)
            return QDateTime(QDate(), QTime(), Qt::UTC);
    const QDate date(2000 + fromBcd(bytes[0]), fromBcd(bytes[1]), fromBcd(bytes[2]));
    const QTime time(fromBcd(bytes[3]), fromBcd(bytes[4]), fromBcd(bytes[5]));
    // QDateTime would quietly turn an invalid time of day into midnight.
    if (!date.isValid() || !time.isValid())
        return QDateTime(QDate(), QTime(), Qt::UTC);
    return QDateTime(date, time, Qt::UTC);
}
