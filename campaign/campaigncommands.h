#ifndef VANTOREL_CAMPAIGNCOMMANDS_H
#define VANTOREL_CAMPAIGNCOMMANDS_H

#include "campaignstatistics.h"

#include <QByteArray>

// An export file and its statistics with the limits remembered in config.ini (working
// directory), as the campaign window shows them. False with `error` for a bad file.
bool loadCampaign(const QString &path, ExportData &data, CampaignStatistics &statistics, QString &error);

// The statistics for a terminal: the summary and the table in aligned columns, or one
// indented JSON object. UTF-8.
QByteArray statisticsOutput(const ExportData &data, const CampaignStatistics &statistics, bool json);

#endif
