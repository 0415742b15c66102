#ifndef VANTOREL_DEVICETYPES_H
#define VANTOREL_DEVICETYPES_H

#include <QString>
#include <QtGlobal>

// The ten known device types. Texts are Latin-1 ("\xB0" is the degree sign).
struct DeviceType {
    quint8 code;
    const char *screenName;
    const char *exportName;
    const char *exportUnits;
    quint8 recordSize;
};

// nullptr for 0 and 11..255.
const DeviceType *deviceTypeInfo(quint8 code);
quint8 recordSizeOf(quint8 code);          // 2 for unknown types
QString screenNameOf(quint8 code);         // empty for unknown types
QByteArray exportNameOf(quint8 code);      // "Unknown data type" for unknown types
QByteArray exportUnitsOf(quint8 code);     // "?" for unknown types
bool isWattmeter(quint8 code);             // 4, 7, 9
bool hasRunningCounter(quint8 code);       // 2, 8: a new campaign clears their counter too
bool acknowledgesLiveReading(quint8 code); // 1: expects the byte 1 at 0x44 after each live reading

#endif
