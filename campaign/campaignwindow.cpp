#include "campaignwindow.h"

#include "account.h"
#include "archivedcampaign.h"
#include "campaignchartview.h"
#include "clock.h"
#include "campaignlimits.h"
#include "exportfilereader.h"
#include "campaignreport.h"
#include "recordmodel.h"
#include "signingdialog.h"
#include "signedreport.h"
#include "windowarchive.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QValueAxis>

struct CampaignWindow::ColumnSeries {
    std::vector<QLineSeries *> segments;  // one per run of values between gaps, reused
    QScatterSeries *dots = nullptr;       // lone values between two gaps
    QLineSeries *low = nullptr;
    QLineSeries *high = nullptr;
    QValueAxis *axis = nullptr;
};

CampaignWindow::CampaignWindow(WindowArchive *archive, QWidget *parent)
    : QWidget(parent, Qt::Window), archive(archive ? archive : new WindowArchive(this))
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Campaign"));
    resize(1000, 720);

    auto *openButton = new QPushButton(QStringLiteral("Open export file..."));
    reportButton = new QPushButton(QStringLiteral("Export PDF report..."));
    signedReportButton = new QPushButton(QStringLiteral("Export signed PDF report..."));
    signedReportButton->setObjectName(QStringLiteral("signedReportButton"));
    auto *resetButton = new QPushButton(QStringLiteral("Reset zoom"));
    auto *hint = new QLabel(QStringLiteral("Drag or wheel: zoom, right drag: pan, double click: reset"));
    hint->setEnabled(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(openButton);
    buttons->addWidget(reportButton);
    buttons->addWidget(signedReportButton);
    buttons->addWidget(resetButton);
    buttons->addStretch();
    buttons->addWidget(hint);
    summary = new QLabel;
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary->setWordWrap(true);

    chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignTop);
    chartView = new CampaignChartView(chart);
    chartView->setMinimumHeight(300);

    statisticsView = new QTableWidget;
    statisticsView->setToolTip(QStringLiteral("Type a lower and an upper limit per column; empty for none."));
    records = new RecordModel(this);
    recordView = new QTableView;
    recordView->setModel(records);
    recordView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    recordView->verticalHeader()->setDefaultSectionSize(recordView->fontMetrics().height() + 6);
    recordView->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    recordView->horizontalHeader()->setDefaultSectionSize(170);
    auto *tabs = new QTabWidget;
    tabs->addTab(statisticsView, QStringLiteral("Statistics and limits"));
    tabs->addTab(recordView, QStringLiteral("Records"));

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(chartView);
    splitter->addWidget(tabs);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(summary);
    layout->addWidget(splitter, 1);

    connect(openButton, &QPushButton::clicked, this, &CampaignWindow::openFileDialog);
    connect(reportButton, &QPushButton::clicked, this, &CampaignWindow::exportReportDialog);
    connect(signedReportButton, &QPushButton::clicked, this, &CampaignWindow::exportSignedReportDialog);
    connect(resetButton, &QPushButton::clicked, this, &CampaignWindow::resetZoom);
    connect(chartView, &CampaignChartView::resetRequested, this, &CampaignWindow::resetZoom);
    connect(statisticsView, &QTableWidget::itemChanged, this, &CampaignWindow::limitEdited);
    reportButton->setEnabled(false);
    signedReportButton->setEnabled(false);
}

CampaignWindow::~CampaignWindow() = default;

bool CampaignWindow::openFile(const QString &path, QString *error)
{
    ExportData read;
    QString message;
    if (!readExportFile(path, read, message)) {
        if (error)
            *error = message;
        else
            QMessageBox::warning(this, QStringLiteral("Open export file"), message);
        return false;
    }
    ReportSubject fileSubject;
    QString ignored;  // the file was just read; an unreadable hash shows as empty
    fileSha256(path, fileSubject.exportSha256, ignored);
    setCampaign(std::move(read), fileSubject);
    return true;
}

void CampaignWindow::setCampaign(ExportData campaign, const ReportSubject &campaignSubject)
{
    subject = campaignSubject;
    records->setCampaign(nullptr);
    data = std::move(campaign);
    QStringList problems;
    limits = loadLimits(data, &problems);
    stats = computeStatistics(data, limits);
    records->setCampaign(&data);
    setWindowTitle(QStringLiteral("Campaign - ") + data.fileName);
    QStringList parts;
    for (const QStringList &row : campaignSummary(data, stats))
        parts << QStringLiteral("<b>%1:</b> %2").arg(row[0].toHtmlEscaped(), row[1].toHtmlEscaped());
    QString text = parts.join(QStringLiteral(" &nbsp; "));
    for (const QString &problem : problems)
        text += QStringLiteral("<br><font color=red>") + problem.toHtmlEscaped() + QStringLiteral("</font>");
    summary->setText(text);
    reportButton->setEnabled(true);
    signedReportButton->setEnabled(true);
    fillStatistics();
    buildChart();
}

qint64 CampaignWindow::axisSeconds(const QDateTime &time) const
{
    return (time.toMSecsSinceEpoch() + offsetMs) / 1000;
}

QDateTime CampaignWindow::axisTime(qint64 seconds) const
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 - offsetMs);
}

void CampaignWindow::buildChart()
{
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes())
        chart->removeAxis(axis);
    series.clear();
    valueAxes.clear();

    if (stats.firstStamp != ExportData::NO_TIME)
        offsetMs = qint64(QDateTime::fromSecsSinceEpoch(stats.firstStamp, Qt::UTC).toLocalTime().offsetFromUtc()) * 1000;
    timeAxis = new QDateTimeAxis;
    timeAxis->setFormat(QStringLiteral("dd/MM/yy hh:mm:ss"));
    timeAxis->setTitleText(QStringLiteral("Time (logger clock)"));
    timeAxis->setTickCount(6);
    chart->addAxis(timeAxis, Qt::AlignBottom);

    std::vector<QString> units;
    for (int c = 0; c < data.columnCount(); ++c) {
        ColumnSeries column;
        const auto known = std::find(units.begin(), units.end(), data.units[c]);
        if (known == units.end()) {
            auto *axis = new QValueAxis;
            axis->setTitleText(data.units[c]);
            axis->setLabelFormat(QStringLiteral("%.1f"));
            chart->addAxis(axis, units.size() % 2 ? Qt::AlignRight : Qt::AlignLeft);
            units.push_back(data.units[c]);
            valueAxes.push_back(axis);
            column.axis = axis;
        } else {
            column.axis = valueAxes[size_t(known - units.begin())];
        }
        const auto attach = [&](QXYSeries *s) {
            chart->addSeries(s);
            s->attachAxis(timeAxis);
            s->attachAxis(column.axis);
        };
        column.dots = new QScatterSeries;
        column.dots->setMarkerSize(4);
        column.dots->setColor(columnColor(c));
        column.dots->setBorderColor(columnColor(c));
        attach(column.dots);
        for (QLineSeries **limit : {&column.low, &column.high}) {
            *limit = new QLineSeries;
            (*limit)->setPen(QPen(columnColor(c), 1, Qt::DashLine));
            attach(*limit);
        }
        column.low->setName(data.columnNames[c] + QStringLiteral(" lower limit"));
        column.high->setName(data.columnNames[c] + QStringLiteral(" upper limit"));
        auto *first = new QLineSeries;
        first->setName(data.columnTitle(c));
        first->setPen(QPen(columnColor(c), 1.5));
        attach(first);
        column.segments.push_back(first);
        series.push_back(column);
    }
    // Only the value series are named in the legend.
    for (QLegendMarker *marker : chart->legend()->markers())
        marker->setVisible(qobject_cast<QLineSeries *>(marker->series()) && marker->series()->name().endsWith(QLatin1Char(')')));

    // Nothing to draw: the chart says so rather than showing an axis of 1970.
    const bool drawable = stats.firstStamp != ExportData::NO_TIME;
    chart->setTitle(drawable ? QString() : noChartText(data));
    for (QAbstractAxis *axis : chart->axes())
        axis->setVisible(drawable);
    updateLimitSeries();
    connect(timeAxis, &QDateTimeAxis::rangeChanged, this, &CampaignWindow::redraw);
    resetZoom();
}

void CampaignWindow::resetZoom()
{
    if (!timeAxis)
        return;
    if (stats.firstStamp == ExportData::NO_TIME) {
        redraw();
        return;
    }
    showRange(stats.firstStamp, std::max(stats.lastStamp, stats.firstStamp + 1));
}

void CampaignWindow::showRange(qint64 from, qint64 to)
{
    const QDateTime min = axisTime(from);
    const QDateTime max = axisTime(to);
    if (timeAxis->min() == min && timeAxis->max() == max)
        redraw();
    else
        timeAxis->setRange(min, max);  // redraws through rangeChanged
}

void CampaignWindow::redraw()
{
    const qint64 from = axisSeconds(timeAxis->min());
    const qint64 to = axisSeconds(timeAxis->max());
    // Seconds only where they tell something.
    timeAxis->setFormat(to - from < 1800 ? QStringLiteral("dd/MM/yy hh:mm:ss") : QStringLiteral("dd/MM/yy hh:mm"));
    // About two points per pixel column: each column's minimum and maximum.
    const int buckets = std::max(100, int(chart->plotArea().width()));
    // Each value axis fits what is visible of its columns, and their limits.
    std::vector<std::pair<double, double>> spans(valueAxes.size(), {qInf(), -qInf()});
    const auto widen = [&](const ColumnSeries &column, double v) {
        auto &span = spans[size_t(std::find(valueAxes.begin(), valueAxes.end(), column.axis) - valueAxes.begin())];
        span = {std::min(span.first, v), std::max(span.second, v)};
    };
    for (int c = 0; c < data.columnCount(); ++c) {
        ColumnSeries &column = series[size_t(c)];
        const std::vector<QPointF> points = reduceMinMax(data.times, data.values[size_t(c)], from, to, buckets);
        QList<QList<QPointF>> runs(1);
        QList<QPointF> dots;
        for (double limit : {limits[size_t(c)].low, limits[size_t(c)].high}) {
            if (!std::isnan(limit))
                widen(column, limit);
        }
        for (const QPointF &p : points) {
            if (!std::isnan(p.y()))
                widen(column, p.y());
            if (std::isnan(p.y())) {
                if (runs.last().size() == 1)
                    dots.append(runs.last().takeLast());
                if (!runs.last().isEmpty())
                    runs.append(QList<QPointF>());
                continue;
            }
            runs.last().append(QPointF(p.x() - double(offsetMs), p.y()));
        }
        if (runs.last().size() == 1 && runs.size() > 1)
            dots.append(runs.last().takeLast());
        while (column.segments.size() < size_t(runs.size())) {
            auto *segment = new QLineSeries;
            segment->setPen(column.segments.front()->pen());
            chart->addSeries(segment);
            segment->attachAxis(timeAxis);
            segment->attachAxis(column.axis);
            chart->legend()->markers(segment).first()->setVisible(false);
            column.segments.push_back(segment);
        }
        for (size_t s = 0; s < column.segments.size(); ++s)
            column.segments[s]->replace(s < size_t(runs.size()) ? runs[qsizetype(s)] : QList<QPointF>());
        column.dots->replace(dots);
    }
    for (size_t a = 0; a < valueAxes.size(); ++a) {
        const auto [low, high] = spans[a];
        if (low > high)
            continue;  // nothing visible: the axis stays as it was
        const double pad = high > low ? (high - low) * 0.05 : 1;
        valueAxes[a]->setRange(low - pad, high + pad);
        valueAxes[a]->applyNiceNumbers();
    }
}

int CampaignWindow::drawnPoints() const
{
    int count = 0;
    for (const ColumnSeries &column : series) {
        for (const QLineSeries *segment : column.segments)
            count += segment->count();
        count += column.dots->count();
    }
    return count;
}

void CampaignWindow::updateLimitSeries()
{
    if (stats.firstStamp == ExportData::NO_TIME)
        return;
    const double from = double(stats.firstStamp) * 1000 - double(offsetMs);
    const double to = double(stats.lastStamp) * 1000 - double(offsetMs);
    for (size_t c = 0; c < series.size(); ++c) {
        const ColumnLimits &l = limits[c];
        series[c].low->replace(std::isnan(l.low) ? QList<QPointF>() : QList<QPointF>{{from, l.low}, {to, l.low}});
        series[c].high->replace(std::isnan(l.high) ? QList<QPointF>() : QList<QPointF>{{from, l.high}, {to, l.high}});
    }
}

void CampaignWindow::fillStatistics()
{
    filling = true;
    const StatisticsTable table = statisticsTable(data, stats);
    // Texts are set in place: this runs inside the table's own signal when a limit is typed.
    if (statisticsView->rowCount() != table.rows.size() || statisticsView->columnCount() != table.header.size() - 1) {
        statisticsView->clear();
        statisticsView->setColumnCount(int(table.header.size()) - 1);
        statisticsView->setRowCount(int(table.rows.size()));
        for (int r = 0; r < table.rows.size(); ++r) {
            const bool limit = r == StatisticsTable::LOWER_LIMIT_ROW || r == StatisticsTable::UPPER_LIMIT_ROW;
            for (int c = 0; c < statisticsView->columnCount(); ++c) {
                auto *item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                item->setFlags(limit ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable
                                     : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                if (limit)
                    item->setBackground(QColor(255, 255, 224));
                statisticsView->setItem(r, c, item);
            }
        }
        statisticsView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        statisticsView->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    }
    statisticsView->setHorizontalHeaderLabels(table.header.mid(1));
    for (int r = 0; r < table.rows.size(); ++r) {
        statisticsView->setVerticalHeaderItem(r, new QTableWidgetItem(table.rows[r][0]));
        for (int c = 1; c < table.rows[r].size(); ++c)
            statisticsView->item(r, c - 1)->setText(table.rows[r][c]);
    }
    filling = false;
}

void CampaignWindow::limitEdited(QTableWidgetItem *item)
{
    if (filling)
        return;
    const int column = item->column();
    const bool lower = item->row() == StatisticsTable::LOWER_LIMIT_ROW;
    if (!lower && item->row() != StatisticsTable::UPPER_LIMIT_ROW)
        return;
    ColumnLimits edited = limits[size_t(column)];
    double &limit = lower ? edited.low : edited.high;
    QString problem;
    if (!parseLimit(item->text(), limit))
        problem = QStringLiteral("\"%1\" is not a number (use '.' as decimal point).").arg(item->text());
    else if (edited.low > edited.high)
        problem = QStringLiteral("The lower limit must not be above the upper limit.");
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Limits"), problem);
        fillStatistics();  // back to the limit in force
        return;
    }
    limits[size_t(column)] = edited;
    saveLimits(data, column, edited);
    stats = computeStatistics(data, limits);
    fillStatistics();
    updateLimitSeries();
    redraw();
    recordInArchive(Archive::EventKind::LimitsChanged, limitsDetails(data, column, edited),
                    QStringLiteral("The limits were changed"));
}

void CampaignWindow::recordInArchive(Archive::EventKind kind, const QJsonObject &details, const QString &done)
{
    QString error;
    if (!archive->recorder(this)(kind, loggerAddress(data), details, error))
        QMessageBox::warning(this, QStringLiteral("Archive"), done + QStringLiteral(", but the archive could not record it: ") + error);
}

void CampaignWindow::openFileDialog()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open export file"), QString(),
                                                      QStringLiteral("Tab Separated Value (*.tsv);;Text file (*.txt);;All files (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void CampaignWindow::exportReportDialog()
{
    const QString proposed = QFileInfo(data.fileName).completeBaseName() + QStringLiteral("_report.pdf");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PDF report"), proposed,
                                                      QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writePdfReport(path, data, stats, subject, error))
        return void(QMessageBox::warning(this, QStringLiteral("Export PDF report"), error));
    recordInArchive(Archive::EventKind::ReportWritten, reportDetails(path, data, subject), QStringLiteral("The report was written"));
}

void CampaignWindow::exportSignedReportDialog()
{
    SigningDialog dialog(QFileInfo(data.fileName).completeBaseName() + QStringLiteral("_signed.pdf"), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QByteArray typed = dialog.passphrase();
    const Signing::PassphraseSource passphrase = [typed] { return std::optional<QByteArray>(typed); };
    QString error;
    const std::unique_ptr<Signing::Credentials> credentials =
        dialog.isPkcs12() ? Signing::Credentials::fromPkcs12(dialog.certificate(), passphrase, &error)
                          : Signing::Credentials::fromPem(dialog.certificate(), dialog.key(), passphrase, &error);
    const QString title = QStringLiteral("Export signed PDF report");
    if (!credentials)
        return void(QMessageBox::warning(this, title, error));
    Signing::SignatureRequest request;
    request.meaning = Signing::meaningFromName(dialog.meaning()).value_or(Signing::Meaning::Review);
    request.reason = dialog.reason();
    request.account = accountName();
    request.at = Clock::now().toLocalTime();
    const SignOutcome outcome = writeSignedReport(archive->recorder(this), dialog.output(), data, stats, subject,
                                                  *credentials, request, error);
    if (outcome == SignOutcome::NotRecorded)
        QMessageBox::warning(this, title, QStringLiteral("The signed report was written, but ") + error);
    else if (outcome != SignOutcome::Written)
        QMessageBox::warning(this, title, error);
}
