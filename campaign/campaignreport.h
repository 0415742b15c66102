#ifndef VANTOREL_CAMPAIGNREPORT_H
#define VANTOREL_CAMPAIGNREPORT_H

#include "campaignstatistics.h"

#include <QColor>
#include <QRectF>
#include <QString>

class QIODevice;
class QPainter;

// What a report is about besides its records: the SHA-256 of the export file (hex) and the
// archived download's id when it came from the archive (0 when not).
struct ReportSubject {
    QString exportSha256;
    qint64 downloadId = 0;
};

// The colour of a value column, the same in the window and in the report.
QColor columnColor(int column);

// The campaign as a chart in `area`: one line per value column with gaps, one y axis
// per unit, limits dashed, time axis in the logger's clock. Plain QPainter: it draws on
// a PDF, an image or a widget alike.
void paintCampaignChart(QPainter &painter, const QRectF &area, const ExportData &data,
                        const CampaignStatistics &statistics, qint64 from, qint64 to);

// An A4 PDF: summary with the subject, statistics and limits table, chart, and on the last
// page the area where signatures show, into `path` ("-" standard output). False with `error`
// (the file and the system's reason) when it cannot be written; an earlier file of that name
// is then left as it was.
bool writePdfReport(const QString &path, const ExportData &data, const CampaignStatistics &statistics,
                    const ReportSubject &subject, QString &error);
// The same PDF into an open device (the signing works on it in memory).
bool paintPdfReport(QIODevice &device, const ExportData &data, const CampaignStatistics &statistics,
                    const ReportSubject &subject, QString &error);

#endif
