#ifndef VANTOREL_INCREMENTAL_H
#define VANTOREL_INCREMENTAL_H

// Reading only what a logger recorded since its last archived download: which record
// addresses to read, and the image a full read would have given, made from those blocks
// and the archived image. Pure: no port, no database.

#include "archive.h"

#include <vector>

namespace Archive {

struct ReadPlan {
    bool full = true;
    QString whyFull;           // for the user, when full
    // Incremental: record addresses [from, to) are read, each at its memory position
    // (address modulo the memory size); [from, checkEnd) was archived and must read the same.
    quint32 from = 0, to = 0, checkEnd = 0;
};

// `previous`: the latest archived download of the logger's campaign, if any.
ReadPlan planRead(const LoggerStatus &now, const Download *previous);

// `image` holds the blocks of the plan at their positions; fills every other position the
// archive holds. False, and `image` untouched, when a re-read byte differs from the archive.
bool mergeImage(const ReadPlan &plan, const LoggerStatus &now, const QByteArray &archived, std::vector<quint8> &image);

// What a download stores: the positions the logger holds, in the whole blocks it reads them.
QByteArray storedImage(const LoggerStatus &status, const std::vector<quint8> &image);

// Records recorded since `previous` (all of the campaign's when there is none or it does not fit).
quint64 newRecords(const LoggerStatus &now, const Download *previous);

} // namespace Archive

#endif
