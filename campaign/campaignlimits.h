#ifndef VANTOREL_CAMPAIGNLIMITS_H
#define VANTOREL_CAMPAIGNLIMITS_H

#include "campaignstatistics.h"

// The limits remembered in config.ini for the file's device type, one per value column.
// Entries that are no number, or a lower limit above the upper one, count as no limit and
// are described in `problems`.
std::vector<ColumnLimits> loadLimits(const ExportData &data, QStringList *problems = nullptr);
void saveLimits(const ExportData &data, int column, const ColumnLimits &limits);

#endif
