#ifndef VANTOREL_REGISTERS_H
#define VANTOREL_REGISTERS_H

#include <QtGlobal>

// The logger's registers, as the program reads and writes them. Status blocks and live
// registers are little-endian, stored records big-endian 16-bit words, clock fields BCD.
namespace Register {
constexpr quint32 identityProbe = 0x00000002;   // answered at device address 0 by any logger
constexpr quint32 identity = 0x01000000;        // type, version, memory size code (p[6])
constexpr quint32 period = 0x0100001A;
constexpr quint32 usedBytes = 0x01000020;       // 24 bits over three bytes
constexpr quint32 startTime = 0x01000030;       // year, month, day, hour, minute, second
constexpr quint32 calibration = 0x01000040;     // words A and B
constexpr quint32 liveValue = 0x00000040;
constexpr quint32 secondsInPeriod = 0x00000042;
constexpr quint32 counterValue = 0x00000044;    // pulse count or active power in p[4..7]
constexpr quint32 battery = 0x00000045;
constexpr quint32 counter = 0x00000048;         // four bytes, cleared for a new campaign
constexpr quint32 secondValue = 0x00000052;
constexpr quint32 wattmeterRaw = 0x00000053;
constexpr quint32 recordMemory = 0x02000000;    // + byte offset

// The clock fields of a new start, in the order they are written: hour, minute, second,
// year, month, day.
constexpr quint32 startFieldsInWriteOrder[6] = {startTime + 3, startTime + 4, startTime + 5,
                                                startTime + 0, startTime + 1, startTime + 2};
} // namespace Register

#endif
