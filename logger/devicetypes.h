#ifndef VANTOREL_DEVICETYPES_H
#define VANTOREL_DEVICETYPES_H

// The device types, one row each: everything the program knows of a type is in its row
// or in the decoders the row points at (typedecoders.h). Nothing else looks at a type code.

#include <QList>
#include <QString>
#include <QtGlobal>

struct LiveAnswers;
struct LiveValue;
struct LoggerStatus;
struct RecordPassParams;

// One read of the live display: which register, how many blocks, and whether the
// display gives up when it fails.
struct LiveRead {
    quint32 reg;
    quint8 blocks;   // 0: no read (the end of a plan)
    bool stopOnFailure;
};

// One value column of a stored record: its value from the record's word (A for the first
// column, B for the second) and the decimals of its text.
struct RecordColumn {
    double (*value)(quint16 word, const RecordPassParams &params);   // nullptr: no column
    int decimals;
};

using LiveDecoder = void (*)(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
using LiveTextMaker = QString (*)(const QList<LiveValue> &values, const QString &current);

// Texts are Latin-1 ("\xB0" is the degree sign).
struct DeviceType {
    quint8 code;
    const char *screenName;
    const char *exportName;       // header line 3; a TAB between two columns
    const char *exportUnits;      // header line 4
    quint8 recordSize;            // 2 or 4 bytes
    RecordColumn columns[2];      // in the order of the file's columns
    const char *firstRecordText;  // shown instead of the first record's values; nullptr: its values
    const LiveRead *liveReads;    // in order, up to the one of 0 blocks
    LiveDecoder liveValues;
    LiveTextMaker liveText;
    bool runningCounter;          // a new campaign clears its counter (0x48) too
    bool acknowledgesLive;        // expects the byte 1 at 0x44 after a good read of 0x40
};

// The known types, in code order.
struct DeviceTypeRange {
    const DeviceType *first, *last;
    const DeviceType *begin() const { return first; }
    const DeviceType *end() const { return last; }
};
DeviceTypeRange knownDeviceTypes();

// nullptr for 0 and 11..255.
const DeviceType *deviceTypeInfo(quint8 code);
quint8 recordSizeOf(quint8 code);          // 2 for unknown types
QString screenNameOf(quint8 code);         // empty for unknown types
QByteArray exportNameOf(quint8 code);      // "Unknown data type" for unknown types
QByteArray exportUnitsOf(quint8 code);     // "?" for unknown types
bool hasRunningCounter(quint8 code);
bool acknowledgesLiveReading(quint8 code);

#endif
