#ifndef VANTOREL_CAMPAIGNLIMITS_H
#define VANTOREL_CAMPAIGNLIMITS_H

#include "campaignstatistics.h"

// The limits remembered in config.ini for the file's device type, one per value column.
// Entries that are no number, or a lower limit above the upper one, count as no limit and
// are described in `problems`.
std::vector<ColumnLimits> loadLimits(const ExportData &data, QStringList *problems = nullptr);
void saveLimits(const ExportData &data, int column, const ColumnLimits &limits);
// A limit given on the command line, "COLUMN=LOW:HIGH": the column by its number (from 1),
// its name or its title, either bound empty for none; it replaces that column's limits.
// False with `error` for a column the file does not have or bounds that are no limits.
bool applyLimitOption(const ExportData &data, const QString &option, std::vector<ColumnLimits> &limits,
                      QString &error);

#endif
