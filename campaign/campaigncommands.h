#ifndef VANTOREL_CAMPAIGNCOMMANDS_H
#define VANTOREL_CAMPAIGNCOMMANDS_H

#include <QStringList>

// `stats FILE.tsv [--json]`: the statistics of an export file on standard output, with the
// limits remembered in config.ini. Returns the exit code (0, 1 for a bad file, 2 for usage).
int runStatsCommand(const QStringList &arguments);
// `report FILE.tsv -o REPORT.pdf`: the PDF report. Needs a QGuiApplication (the offscreen
// platform will do).
int runReportCommand(const QStringList &arguments);

#endif
