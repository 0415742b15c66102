#ifndef VANTOREL_START_H
#define VANTOREL_START_H

#include <QDateTime>
#include <QDialog>

#include "windowstate.h"

class ManageSerialPort;
class WindowArchive;

namespace Ui {
class start;
}

// Starts a new campaign: period, empty memory, start time aligned to the period.
class start : public QDialog
{
    Q_OBJECT

public:
    // `state` and `archive` are the window's; the campaign sequence marks it busy while it runs.
    start(ManageSerialPort *portManager, WindowState *state, WindowArchive *archive, QWidget *parent = nullptr);
    ~start() override;

    // Escape closes like the title bar does, so the window always hears of it.
    void reject() override;

signals:
    void closed();

private slots:
    void on_period_combo_currentIndexChanged(int index);
    void on_Start_clicked();
    void on_Cancel_clicked();
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void updateMemoryFullDate();
    bool programNewCampaign();
    void logCampaignStarted();

    Ui::start *ui;
    ManageSerialPort *portManager;
    int periodCode = 0;
    QDateTime memoryFullDate;
    QDateTime startedAt;
    // While the sequence runs, nothing may start a second one or close the dialog.
    bool sequenceRunning() const;
    WindowState *state;
    WindowArchive *archive;
};

#endif
