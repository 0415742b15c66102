#ifndef VANTOREL_CAMPAIGNLIMITS_H
#define VANTOREL_CAMPAIGNLIMITS_H

#include "campaignstatistics.h"

// The limits remembered in config.ini for the file's device type, one per value column.
std::vector<ColumnLimits> loadLimits(const ExportData &data);
void saveLimits(const ExportData &data, int column, const ColumnLimits &limits);

#endif
