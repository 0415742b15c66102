#include "devicetypes.h"

#include <QByteArray>

namespace {

const DeviceType deviceTypes[] = {
    {1, "Temperature", "Vantorel Temp", "\xB0" "C", 2},
    {2, "Pulses", "Vantorel Impulse", "Pulses", 2},
    {3, "Temp/Hygro", "Vantorel Temp\tHumidity", "\xB0" "C\t%RH", 4},
    {4, "WattMetter", "Inline Wattmeter", "Watts", 2},
    {5, "Temperature", "Vantorel Temp", "\xB0" "C", 2},
    {6, "Temp. Type K", "type K1\ttype K2", "\xB0" "C\t\xB0" "C", 4},
    {7, "WattMetter", "Wattmeter\tV", "Watts\tVolts", 4},
    {8, "Lamp", "Vantorel Lamp", "Seconds", 2},
    {9, "WattMetter", "Inline Wattmeter", "Watts", 2},
    {10, "Temp. Type S", "type S\ttype K", "\xB0" "C\t\xB0" "C", 4},
};

} // namespace

const DeviceType *deviceTypeInfo(quint8 code)
{
    if (code < 1 || code > 10)
        return nullptr;
    return &deviceTypes[code - 1];
}

quint8 recordSizeOf(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return type ? type->recordSize : 2;
}

QString screenNameOf(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return type ? QString::fromLatin1(type->screenName) : QString();
}

QByteArray exportNameOf(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return QByteArray(type ? type->exportName : "Unknown data type");
}

QByteArray exportUnitsOf(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return QByteArray(type ? type->exportUnits : "?");
}

bool isWattmeter(quint8 code)
{
    return code == 4 || code == 7 || code == 9;
}

bool hasRunningCounter(quint8 code)
{
    return code == 2 || code == 8;
}

bool acknowledgesLiveReading(quint8 code)
{
    return code == 1;
}
