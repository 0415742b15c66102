// The once-a-second refresh: identity, status and live reading of the attached logger.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicetypes.h"
#include "codecs.h"
#include "livereadings.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "portaccess.h"
#include "statusdisplay.h"

#include <QTimer>

void MainWindow::clearStatusLabels()
{
    for (QLabel *label : {ui->real_txt, ui->type, ui->version, ui->start_label, ui->data_lab, ui->free_mem_lab,
                          ui->time_lab, ui->pile_lab, ui->period_lab})
        label->setText(QString());
}

void MainWindow::timerSlot()
{
    // A tick that falls due while a refresh or an operation still waits for the logger
    // is no refresh of its own.
    if (!state.idle() || state.quitting)
        return;
    enter(Situation::Refreshing);
    timer->stop();
    if (!portManager->isOpen())
        Device::reopenConfiguredPort(*portManager);
    if (!portManager->wakeUpDevice()) {
        // Refused because another transaction waits: not the logger's silence.
        if (portManager->isWaiting()) {
            settle(Situation::Polling);
            return;
        }
        error_com();
        clearStatusLabels();
        settle(Situation::FastRetry);
        return;
    }
    timer->start(POLL_INTERVAL_MS);
    if (readLoggerStatus())
        displayLoggerStatus();
    else
        clearStatusLabels();
    settle(Situation::Polling);
}

bool MainWindow::readLoggerStatus()
{
    const Device::StatusOutcome outcome = Device::readStatus(*portManager, loggerStatus);
    ui->sn_lab->setStyleSheet(outcome.identified ? QStringLiteral("QLabel {color : green; }")
                                                 : QStringLiteral("QLabel {color : red; }"));
    if (loggerStatus.address != 0)
        ui->sn_lab->setText(formatDeviceAddress(loggerStatus.address));
    return outcome.complete;
}

void MainWindow::displayLoggerStatus()
{
    LoggerStatus &s = loggerStatus;
    const Device::LiveOutcome live = Device::readLive(*portManager, s);
    const StatusTexts texts = statusTexts(s);

    ui->version->setText(texts.version);
    ui->start_label->setText(texts.startTime);
    if (live.batteryRead)
        ui->pile_lab->setText(texts.battery);
    ui->free_mem_lab->setText(texts.freeMemory);
    ui->period_lab->setText(texts.period);
    if (live.knownType) {
        ui->type->setText(screenNameOf(s.deviceType));
        ui->real_txt->setText(liveReadingText(s, live.answers, ui->real_txt->text()));
    }
    ui->data_lab->setText(texts.storedRecords);
    ui->time_lab->setText(texts.loggerTime);
}
