#include "campaignreport.h"

#include "outputfile.h"
#include "pdfsigning.h"
#include "statusdisplay.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <iterator>

namespace {

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks over `span`.
double niceStep(double span, int count)
{
    const double raw = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw)
            return factor * power;
    }
    return 10 * power;
}

struct UnitAxis {
    QString unit;
    double low = 0;
    double high = 1;
};

std::vector<UnitAxis> unitAxes(const ExportData &data, const CampaignStatistics &statistics)
{
    std::vector<UnitAxis> axes;
    for (int c = 0; c < data.columnCount(); ++c) {
        const ColumnStatistics &s = statistics.columns[size_t(c)];
        auto axis = std::find_if(axes.begin(), axes.end(), [&](const UnitAxis &a) { return a.unit == data.units[c]; });
        if (axis == axes.end()) {
            axes.push_back({data.units[c], qInf(), -qInf()});
            axis = axes.end() - 1;
        }
        for (double v : {s.minimum, s.maximum, s.limits.low, s.limits.high}) {
            if (!std::isnan(v)) {
                axis->low = std::min(axis->low, v);
                axis->high = std::max(axis->high, v);
            }
        }
    }
    for (UnitAxis &axis : axes) {
        if (axis.low > axis.high) {
            axis.low = 0;
            axis.high = 1;
        }
        const double pad = axis.high > axis.low ? (axis.high - axis.low) * 0.05 : 1.0;
        axis.low -= pad;
        axis.high += pad;
    }
    return axes;
}

int axisOf(const std::vector<UnitAxis> &axes, const QString &unit)
{
    for (size_t i = 0; i < axes.size(); ++i) {
        if (axes[i].unit == unit)
            return int(i);
    }
    return 0;
}

// Draws rows of cells with a grid; the first row bold. Returns the bottom.
double drawTable(QPainter &p, double left, double top, double width, const QList<QStringList> &rows)
{
    if (rows.isEmpty())
        return top;
    const QFontMetricsF metrics(p.font(), p.device());
    const double rowHeight = metrics.height() * 1.4;
    const double pad = metrics.averageCharWidth() * 0.6;
    const int columns = int(rows.first().size());
    // The first column as wide as its longest text, the rest share what is left.
    double first = 0;
    for (const QStringList &row : rows)
        first = std::max(first, metrics.horizontalAdvance(row.value(0)) + 2 * pad);
    const double other = columns > 1 ? (width - first) / (columns - 1) : 0;
    for (int r = 0; r < rows.size(); ++r) {
        QFont font = p.font();
        font.setBold(r == 0);
        p.save();
        p.setFont(font);
        double x = left;
        for (int c = 0; c < columns; ++c) {
            const double w = c == 0 ? first : other;
            const QRectF cell(x, top + r * rowHeight, w, rowHeight);
            p.drawRect(cell);
            p.drawText(cell.adjusted(pad, 0, -pad, 0), Qt::AlignVCenter | (c == 0 ? Qt::AlignLeft : Qt::AlignRight),
                       rows[r].value(c));
            x += w;
        }
        p.restore();
    }
    return top + rows.size() * rowHeight;
}

} // namespace

QColor columnColor(int column)
{
    static const QColor colors[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                    QColor(0x94, 0x67, 0xbd)};
    return colors[column % 4];
}

void paintCampaignChart(QPainter &p, const QRectF &area, const ExportData &data,
                        const CampaignStatistics &statistics, qint64 from, qint64 to)
{
    if (from == ExportData::NO_TIME || to == ExportData::NO_TIME) {
        p.drawText(area, Qt::AlignCenter, noChartText(data));
        return;
    }
    p.save();
    const QFontMetricsF metrics(p.font(), p.device());
    const double line = metrics.height();
    const std::vector<UnitAxis> axes = unitAxes(data, statistics);
    const double axisWidth = metrics.horizontalAdvance(QStringLiteral("-00000.0")) + line * 1.5;
    const double legendHeight = line * 1.6;
    QRectF plot = area.adjusted(axisWidth, legendHeight, axes.size() > 1 ? -axisWidth : -line, -line * 3);
    if (to <= from)
        to = from + 1;

    // Legend: a swatch and the column title per series.
    double x = plot.left();
    for (int c = 0; c < data.columnCount(); ++c) {
        p.setPen(QPen(columnColor(c), line * 0.25));
        p.drawLine(QPointF(x, area.top() + line * 0.7), QPointF(x + line * 1.5, area.top() + line * 0.7));
        p.setPen(Qt::black);
        const QString title = data.columnTitle(c);
        p.drawText(QPointF(x + line * 2, area.top() + line), title);
        x += line * 3.5 + metrics.horizontalAdvance(title);
    }

    // Time axis in the logger's own clock (the stamps carry no time zone).
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(plot);
    const auto xOf = [&](double seconds) { return plot.left() + (seconds - double(from)) / double(to - from) * plot.width(); };
    const double span = double(to - from);
    static const qint64 steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600,
                                   43200, 86400, 172800, 604800, 1209600, 2592000, 7776000, 31536000};
    qint64 step = steps[std::size(steps) - 1];
    for (qint64 s : steps) {
        if (span / double(s) <= 6) {
            step = s;
            break;
        }
    }
    for (qint64 t = (from + step - 1) / step * step; t <= to; t += step) {
        const double tx = xOf(double(t));
        p.setPen(QPen(QColor(220, 220, 220), 0));
        p.drawLine(QPointF(tx, plot.top()), QPointF(tx, plot.bottom()));
        p.setPen(Qt::black);
        const QString text = stampText(t);
        const QRectF label(tx - line * 5, plot.bottom() + line * 0.2, line * 10, line * 2.2);
        p.drawText(label, Qt::AlignHCenter | Qt::AlignTop, text.left(10) + QLatin1Char('\n') + text.mid(11, 5));
    }
    p.drawText(QRectF(plot.left(), plot.bottom() + line * 2.2, plot.width(), line),
               Qt::AlignHCenter, QStringLiteral("Time (logger clock)"));

    // Value axes: the first on the left, the second on the right.
    for (size_t a = 0; a < axes.size() && a < 2; ++a) {
        const UnitAxis &axis = axes[a];
        const double stepY = niceStep(axis.high - axis.low, 6);
        const int decimals = std::max(0, int(-std::floor(std::log10(stepY))));
        for (double v = std::ceil(axis.low / stepY) * stepY; v <= axis.high; v += stepY) {
            const double ty = plot.bottom() - (v - axis.low) / (axis.high - axis.low) * plot.height();
            if (a == 0) {
                p.setPen(QPen(QColor(220, 220, 220), 0));
                p.drawLine(QPointF(plot.left(), ty), QPointF(plot.right(), ty));
            }
            p.setPen(Qt::black);
            const QRectF label = a == 0 ? QRectF(area.left(), ty - line / 2, axisWidth - line * 0.3, line)
                                        : QRectF(plot.right() + line * 0.3, ty - line / 2, axisWidth, line);
            p.drawText(label, Qt::AlignVCenter | (a == 0 ? Qt::AlignRight : Qt::AlignLeft), fixedText(v, decimals));
        }
        const QPointF titleAt = a == 0 ? QPointF(area.left(), plot.top() - line * 0.3)
                                       : QPointF(plot.right() + line * 0.3, plot.top() - line * 0.3);
        p.drawText(titleAt, axis.unit);
    }

    // Series and limits, clipped to the plot.
    p.setClipRect(plot);
    for (int c = 0; c < data.columnCount(); ++c) {
        const UnitAxis &axis = axes[size_t(axisOf(axes, data.units[c]))];
        const auto yOf = [&](double v) { return plot.bottom() - (v - axis.low) / (axis.high - axis.low) * plot.height(); };
        const std::vector<QPointF> points = reduceMinMax(data.times, data.values[size_t(c)], from, to,
                                                         std::max(1, int(plot.width() / 2)));
        QPainterPath path;
        bool pen = false;
        for (const QPointF &point : points) {
            if (std::isnan(point.y())) {
                pen = false;
                continue;
            }
            const QPointF at(xOf(point.x() / 1000.0), yOf(point.y()));
            if (pen) {
                path.lineTo(at);
            } else {
                path.moveTo(at);
                path.lineTo(at);  // a lone value still shows as a dot
            }
            pen = true;
        }
        p.setPen(QPen(columnColor(c), line * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(path);
        const ColumnLimits &limits = statistics.columns[size_t(c)].limits;
        p.setPen(QPen(columnColor(c), line * 0.08, Qt::DashLine));
        for (double limit : {limits.low, limits.high}) {
            if (!std::isnan(limit))
                p.drawLine(QPointF(plot.left(), yOf(limit)), QPointF(plot.right(), yOf(limit)));
        }
    }
    p.restore();
}

namespace {

constexpr double MM_PER_INCH = 25.4;
constexpr double MARGIN_MM = 15;
constexpr int RESOLUTION = 300;

// A place given in millimetres from the page's top left, in the painter's coordinates.
QRectF fromMillimetres(const QRectF &mm)
{
    const double scale = RESOLUTION / MM_PER_INCH;
    return QRectF((mm.left() - MARGIN_MM) * scale, (mm.top() - MARGIN_MM) * scale, mm.width() * scale,
                  mm.height() * scale);
}

// The heading of the area the signatures' own blocks fill when the report is signed.
void drawSignatureArea(QPainter &p, const QRectF &area)
{
    p.save();
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);
    p.drawLine(area.topLeft(), area.topRight());
    p.drawText(area.adjusted(0, QFontMetricsF(font, p.device()).height() * 0.2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("Signatures"));
    p.restore();
}

QList<QStringList> subjectRows(const ExportData &data, const CampaignStatistics &statistics,
                               const ReportSubject &subject)
{
    QList<QStringList> rows = campaignSummary(data, statistics);
    rows.prepend({QStringLiteral("Campaign"), QString()});
    rows.append({QStringLiteral("Export file"), data.fileName});
    rows.append({QStringLiteral("Export file SHA-256"), subject.exportSha256});
    if (subject.downloadId > 0)
        rows.append({QStringLiteral("Archived download"), QString::number(subject.downloadId)});
    return rows;
}

} // namespace

bool paintPdfReport(QIODevice &device, const ExportData &data, const CampaignStatistics &statistics,
                    const ReportSubject &subject, QString &error)
{
    QPdfWriter writer(&device);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(MARGIN_MM, MARGIN_MM, MARGIN_MM, MARGIN_MM), QPageLayout::Millimeter);
    writer.setResolution(RESOLUTION);
    writer.setTitle(QStringLiteral("Campaign report ") + data.serial);
    writer.setCreator(QStringLiteral("VanTorel"));
    QPainter p;
    if (!p.begin(&writer)) {
        error = QStringLiteral("the PDF could not be started");
        return false;
    }
    const QRectF page(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
    QFont font = p.font();
    font.setPointSizeF(14);
    font.setBold(true);
    p.setFont(font);
    const double titleHeight = QFontMetricsF(font, &writer).height();
    p.drawText(QRectF(page.left(), page.top(), page.width(), titleHeight), Qt::AlignLeft,
               QStringLiteral("Campaign report: ") + data.fileName);
    font.setPointSizeF(9);
    font.setBold(false);
    // No ligatures: the hashes and names in the PDF stay text that is found and copied as printed.
    font.setStyleStrategy(QFont::PreferNoShaping);
    p.setFont(font);
    const double gap = QFontMetricsF(font, &writer).height();
    double y = drawTable(p, page.left(), page.top() + titleHeight + gap, page.width(),
                         subjectRows(data, statistics, subject));
    const StatisticsTable table = statisticsTable(data, statistics);
    QList<QStringList> rows = table.rows;
    rows.prepend(table.header);
    y = drawTable(p, page.left(), y + gap, page.width(), rows);
    // The chart stays above the signatures' area; too little room moves it to a page of its own.
    const QRectF signatures = fromMillimetres(Signing::signatureArea());
    QRectF chart(page.left(), y + gap, page.width(), std::min(signatures.top() - y - 2 * gap, page.width() * 0.75));
    if (chart.height() < page.height() / 3) {
        writer.newPage();
        chart = QRectF(page.left(), page.top(), page.width(), page.width() * 0.75);
    }
    paintCampaignChart(p, chart, data, statistics, statistics.firstStamp, statistics.lastStamp);
    drawSignatureArea(p, signatures);
    p.end();
    return true;
}

bool writePdfReport(const QString &path, const ExportData &data, const CampaignStatistics &statistics,
                    const ReportSubject &subject, QString &error)
{
    OutputFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorMessage();
        return false;
    }
    if (!paintPdfReport(file, data, statistics, subject, error)) {
        error = path + QStringLiteral(": ") + error;
        return false;
    }
    if (!file.commit()) {
        error = file.errorMessage();
        return false;
    }
    return true;
}
