#ifndef VANTOREL_CODECS_H
#define VANTOREL_CODECS_H

// How the logger writes its own fields: packed BCD clock bytes, and its address as the
// serial number the user sees and files are named after.

#include <QDateTime>
#include <QString>
#include <QtGlobal>

quint8 toBcd(quint8 value);
quint8 fromBcd(quint8 byte);
// Upper-case hexadecimal, 4 digits up to 0xFFFF, else 8.
QString formatDeviceAddress(quint32 address);

// The campaign start from the six BCD bytes of block 0x01000030 (year, month, day, hour,
// minute, second), held as UTC; invalid when the fields are no date and time of day.
QDateTime startTimeFromBcd(const quint8 *bytes);

#endif
