#include "devicetypes.h"

#include "registers.h"
#include "typedecoders.h"

#include <QByteArray>

#include <iterator>

namespace {

using namespace Register;

constexpr bool COUNTER = true, NO_COUNTER = false;
constexpr bool ACKNOWLEDGES = true, NO_ACKNOWLEDGE = false;

// Reads of one refresh, in order: register, blocks, whether a failure ends the refresh.
constexpr LiveRead END = {0, 0, false};
constexpr LiveRead temperatureReads[] = {{liveValue, 1, true}, END};
constexpr LiveRead counterReads[] = {{counterValue, 1, true}, END};
constexpr LiveRead hygroReads[] = {{liveValue, 1, false}, {secondValue, 1, false}, END};
constexpr LiveRead wattmeterReads[] = {{counterValue, 1, false}, {wattmeterRaw, 1, true}, END};
constexpr LiveRead thermocoupleReads[] = {{secondValue, 1, true}, {liveValue, 1, false}, END};
constexpr LiveRead lampReads[] = {{liveValue, 2, false}, {secondValue, 1, false}, END};

const DeviceType deviceTypes[] = {
    {1, "Temperature", "Vantorel Temp", "\xB0" "C", 2,
     {{RecordValue::sixteenths, 1}}, nullptr,
     temperatureReads, LiveDecode::sixteenthsTemperature, LiveText::temperature, NO_COUNTER, ACKNOWLEDGES},
    {2, "Pulses", "Vantorel Impulse", "Pulses", 2,
     {{RecordValue::count, 0}}, "0",
     counterReads, LiveDecode::pulses, LiveText::pulses, COUNTER, NO_ACKNOWLEDGE},
    {3, "Temp/Hygro", "Vantorel Temp\tHumidity", "\xB0" "C\t%RH", 4,
     {{RecordValue::hygroTemperature, 1}, {RecordValue::humidity, 1}}, nullptr,
     hygroReads, LiveDecode::hygro, LiveText::hygro, NO_COUNTER, NO_ACKNOWLEDGE},
    {4, "WattMetter", "Inline Wattmeter", "Watts", 2,
     {{RecordValue::periodScaled, 1}}, "-",
     wattmeterReads, LiveDecode::wattmeter, LiveText::wattmeter, NO_COUNTER, NO_ACKNOWLEDGE},
    {5, "Temperature", "Vantorel Temp", "\xB0" "C", 2,
     {{RecordValue::calibrated, 1}}, nullptr,
     temperatureReads, LiveDecode::calibratedTemperature, LiveText::temperature, NO_COUNTER, NO_ACKNOWLEDGE},
    {6, "Temp. Type K", "type K1\ttype K2", "\xB0" "C\t\xB0" "C", 4,
     {{RecordValue::eighths, 1}, {RecordValue::eighths, 1}}, nullptr,
     thermocoupleReads, LiveDecode::thermocoupleK, LiveText::thermocouple, NO_COUNTER, NO_ACKNOWLEDGE},
    // Power (word A) before voltage (word B), the order of the header's columns.
    {7, "WattMetter", "Wattmeter\tV", "Watts\tVolts", 4,
     {{RecordValue::periodScaled, 1}, {RecordValue::voltage, 1}}, "-\t-",
     wattmeterReads, LiveDecode::wattmeter, LiveText::wattmeter, NO_COUNTER, NO_ACKNOWLEDGE},
    {8, "Lamp", "Vantorel Lamp", "Seconds", 2,
     {{RecordValue::count, 0}}, nullptr,
     lampReads, LiveDecode::lamp, LiveText::lamp, COUNTER, NO_ACKNOWLEDGE},
    {9, "WattMetter", "Inline Wattmeter", "Watts", 2,
     {{RecordValue::periodScaled, 1}}, "-",
     wattmeterReads, LiveDecode::wattmeter, LiveText::wattmeter, NO_COUNTER, NO_ACKNOWLEDGE},
    {10, "Temp. Type S", "type S\ttype K", "\xB0" "C\t\xB0" "C", 4,
     {{RecordValue::typeS, 1}, {RecordValue::eighths, 1}}, nullptr,
     thermocoupleReads, LiveDecode::thermocoupleS, LiveText::thermocouple, NO_COUNTER, NO_ACKNOWLEDGE},
};

} // namespace

DeviceTypeRange knownDeviceTypes()
{
    return {std::begin(deviceTypes), std::end(deviceTypes)};
}

const DeviceType *deviceTypeInfo(quint8 code)
{
    for (const DeviceType &type : deviceTypes)
        if (type.code == code)
            return &type;
    return nullptr;
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

bool hasRunningCounter(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return type && type->runningCounter;
}

bool acknowledgesLiveReading(quint8 code)
{
    const DeviceType *type = deviceTypeInfo(code);
    return type && type->acknowledgesLive;
}
