#include "campaignchartview.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

CampaignChartView::CampaignChartView(QChart *chart, QWidget *parent) : QChartView(chart, parent)
{
    setRubberBand(QChartView::HorizontalRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
}

void CampaignChartView::zoomAround(double fraction, double factor)
{
    const auto axes = chart()->axes(Qt::Horizontal);
    auto *axis = axes.isEmpty() ? nullptr : qobject_cast<QDateTimeAxis *>(axes.first());
    if (!axis)
        return;
    const double from = double(axis->min().toMSecsSinceEpoch());
    const double to = double(axis->max().toMSecsSinceEpoch());
    const double at = from + (to - from) * fraction;
    // Not closer than a few seconds: the stamps have a resolution of one second.
    const double span = std::max((to - from) * factor, 5000.0);
    const double newFrom = at - (at - from) / (to - from) * span;
    axis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(newFrom)),
                   QDateTime::fromMSecsSinceEpoch(qint64(newFrom + span)));
}

void CampaignChartView::wheelEvent(QWheelEvent *event)
{
    const QRectF plot = chart()->plotArea();
    const double fraction = std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
    zoomAround(fraction, event->angleDelta().y() > 0 ? 0.8 : 1.25);
    event->accept();
}

void CampaignChartView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning = true;
        lastPan = event->position();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void CampaignChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (panning) {
        chart()->scroll(lastPan.x() - event->position().x(), 0);
        lastPan = event->position();
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void CampaignChartView::mouseReleaseEvent(QMouseEvent *event)
{
    // The chart view's own right click would zoom out of all axes.
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void CampaignChartView::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit resetRequested();
    event->accept();
}

void CampaignChartView::keyPressEvent(QKeyEvent *event)
{
    const double step = chart()->plotArea().width() / 10;
    switch (event->key()) {
    case Qt::Key_Left: chart()->scroll(-step, 0); break;
    case Qt::Key_Right: chart()->scroll(step, 0); break;
    case Qt::Key_Plus: zoomAround(0.5, 0.8); break;
    case Qt::Key_Minus: zoomAround(0.5, 1.25); break;
    case Qt::Key_Home: emit resetRequested(); break;
    default: QChartView::keyPressEvent(event); return;
    }
    event->accept();
}
