#ifndef VANTOREL_CAMPAIGNCOMMANDS_H
#define VANTOREL_CAMPAIGNCOMMANDS_H

#include "campaignstatistics.h"

#include <QByteArray>

// The statistics for a terminal: the summary and the table in aligned columns, or one
// JSON object on one line. UTF-8.
QByteArray statisticsOutput(const ExportData &data, const CampaignStatistics &statistics, bool json);

#endif
