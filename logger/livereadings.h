#ifndef VANTOREL_LIVEREADINGS_H
#define VANTOREL_LIVEREADINGS_H

#include "devicetypes.h"
#include "loggerstatus.h"

#include <QList>
#include <QString>

#include <array>

// Reads of one refresh, in order; empty for unknown types. After a successful read of 0x40
// a type that acknowledgesLiveReading() is also written the byte 1 at register 0x44
// (writeByteNoReply): the plan holds reads only.
QList<LiveRead> liveReadPlan(quint8 deviceType);

// The answers of those reads, by register.
struct LiveAnswer {
    bool ok = false;
    std::array<quint8, 16> p{};
};
struct LiveAnswers {
    LiveAnswer r40, r44, r52, r53;
    // A register outside the four gives a scratch answer that is never read.
    LiveAnswer &forRegister(quint32 reg);
    const LiveAnswer &forRegister(quint32 reg) const;
};

// One decoded live value. `name` is a stable identifier (for machine-readable output),
// `unit` is UTF-8 and may be empty; `decimals` is how many the window shows. A value
// whose read failed is absent; one that cannot be computed (a divisor of 0) is there
// with `known` false.
struct LiveValue {
    const char *name;
    double value;
    const char *unit;
    int decimals;
    bool known;
};

// The values of one refresh, in the order the window shows them; empty for unknown types.
QList<LiveValue> liveValues(const LoggerStatus &status, const LiveAnswers &answers);

// The text of the live reading label after one refresh. `current` is the label's text
// before it: a failed first read leaves it, and later lines are appended to it.
// Values that cannot be known show "-" without a unit: T1 when 0x40 failed, T1, T2 and
// U Bat when the battery word is 0, voltage, current and power factor when
// calibrationB is 0. Unknown types give `current` back.
QString liveReadingText(const LoggerStatus &status, const LiveAnswers &answers, const QString &current);

// The window's lines of a live reading on one line, joined by ", ".
QString liveLine(const QString &windowText);
// The values of one refresh of a logger of that type as liveLine shows them; "-" for none.
QString liveValuesLine(quint8 deviceType, const QList<LiveValue> &values);

#endif
