#ifndef VANTOREL_LIVEREADINGS_H
#define VANTOREL_LIVEREADINGS_H

#include "loggerstatus.h"

#include <QList>
#include <QString>

#include <array>

// One read of the live display: which register, how many blocks, and whether the
// display gives up when it fails.
struct LiveRead {
    quint32 reg;
    quint8 blocks;
    bool stopOnFailure;
};

// Reads of one refresh, in order; empty for unknown types.
QList<LiveRead> liveReadPlan(quint8 deviceType);

// The answers of those reads, by register.
struct LiveAnswer {
    bool ok = false;
    std::array<quint8, 16> p{};
};
struct LiveAnswers {
    LiveAnswer r40, r44, r52, r53;
    LiveAnswer &forRegister(quint32 reg);
    const LiveAnswer &forRegister(quint32 reg) const;
};

// The text of the live reading label after one refresh. `current` is the label's text
// before it: a failed first read leaves it, and later lines are appended to it.
QString liveReadingText(const LoggerStatus &status, const LiveAnswers &answers, const QString &current);

#endif
