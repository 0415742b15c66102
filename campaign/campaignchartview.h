#ifndef VANTOREL_CAMPAIGNCHARTVIEW_H
#define VANTOREL_CAMPAIGNCHARTVIEW_H

#include <QChartView>

// Zoom with the rubber band (left button) or the wheel, pan with the right or middle
// button or the arrow keys, reset with a double click or Home. Only the time axis moves.
class CampaignChartView : public QChartView
{
    Q_OBJECT

public:
    explicit CampaignChartView(QChart *chart, QWidget *parent = nullptr);

signals:
    void resetRequested();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void zoomAround(double fraction, double factor);
    bool panning = false;
    QPointF lastPan;
};

#endif
