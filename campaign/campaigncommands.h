#ifndef VANTOREL_CAMPAIGNCOMMANDS_H
#define VANTOREL_CAMPAIGNCOMMANDS_H

#include "campaignstatistics.h"

#include <QByteArray>

// An export file and its statistics with the limits remembered in config.ini (working
// directory), as the campaign window shows them. False with `error` for a bad file;
// damaged limits count as none and are described in `problems`.
bool loadCampaign(const QString &path, ExportData &data, CampaignStatistics &statistics, QString &error,
                  QStringList *problems = nullptr);

// The statistics for a terminal: the summary and the table in aligned columns, or one
// indented JSON object. UTF-8.
QByteArray statisticsOutput(const ExportData &data, const CampaignStatistics &statistics, bool json);

#endif
