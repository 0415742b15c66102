#ifndef VANTOREL_CAMPAIGNWINDOW_H
#define VANTOREL_CAMPAIGNWINDOW_H

#include "archive.h"
#include "campaignreport.h"
#include "campaignstatistics.h"

#include <QWidget>

class CampaignChartView;
class QChart;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QTableView;
class QTableWidget;
class QTableWidgetItem;
class QValueAxis;
class RecordModel;
class WindowArchive;

// A downloaded campaign: chart, records, statistics with limits, PDF report. Its own
// top-level window; closing it does not end the program.
class CampaignWindow : public QWidget
{
    Q_OBJECT

public:
    // `archive`: the connection of the window that opens this one; without it, its own.
    explicit CampaignWindow(WindowArchive *archive = nullptr, QWidget *parent = nullptr);
    ~CampaignWindow() override;

    // Reads and shows the file; false with a message box (or `error`) when it is not an
    // export file, and what was shown stays.
    bool openFile(const QString &path, QString *error = nullptr);
    // `subject`: what the report says the campaign came from (export file hash, download).
    void setCampaign(ExportData data, const ReportSubject &subject = {});
    const ExportData &campaign() const { return data; }
    const CampaignStatistics &statistics() const { return stats; }

    // The visible time range in logger-clock seconds; the chart is drawn again.
    void showRange(qint64 from, qint64 to);
    void resetZoom();
    int drawnPoints() const;  // points in the series after the last drawing

public slots:
    void openFileDialog();
    void exportReportDialog();
    void exportSignedReportDialog();

private:
    struct ColumnSeries;
    void buildChart();
    void redraw();
    void fillStatistics();
    void limitEdited(QTableWidgetItem *item);
    void updateLimitSeries();
    // Appends the event to the window's archive; says so when it could not.
    void recordInArchive(Archive::EventKind kind, const QJsonObject &details, const QString &done);
    qint64 axisSeconds(const QDateTime &time) const;
    QDateTime axisTime(qint64 seconds) const;

    WindowArchive *archive;
    ExportData data;
    CampaignStatistics stats;
    ReportSubject subject;
    std::vector<ColumnLimits> limits;
    QLabel *summary;
    QPushButton *reportButton;
    QPushButton *signedReportButton;
    QChart *chart;
    CampaignChartView *chartView;
    QDateTimeAxis *timeAxis = nullptr;
    std::vector<QValueAxis *> valueAxes;
    std::vector<ColumnSeries> series;
    QTableWidget *statisticsView;
    QTableView *recordView;
    RecordModel *records;
    qint64 offsetMs = 0;  // shows the logger's clock on an axis that shows local time
    bool filling = false;
};

#endif
