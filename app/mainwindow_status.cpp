// The once-a-second refresh: identity, status and live reading of the attached logger.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicetypes.h"
#include "frame.h"
#include "livereadings.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "registers.h"
#include "statusdisplay.h"

#include <QTimer>

namespace {
constexpr quint32 STATUS_ATTEMPTS = 2;

quint16 le16(const quint8 *p) { return quint16(p[0] | (p[1] << 8)); }
} // namespace

void MainWindow::clearStatusLabels()
{
    for (QLabel *label : {ui->real_txt, ui->type, ui->version, ui->start_label, ui->data_lab, ui->free_mem_lab,
                          ui->time_lab, ui->pile_lab, ui->period_lab})
        label->setText(QString());
}

void MainWindow::timerSlot()
{
    // A tick that falls due while this refresh still waits for the logger is skipped.
    if (refreshing)
        return;
    refreshing = true;
    timer->stop();
    if (!portManager->isOpen())
        reopenConfiguredPort();
    if (!portManager->wakeUpDevice()) {
        error_com();
        clearStatusLabels();
        timer->start(portManager->isOpen() ? 0 : CLOSED_PORT_RETRY_MS);
    } else {
        timer->start(POLL_INTERVAL_MS);
        if (readLoggerStatus())
            displayLoggerStatus();
        else
            clearStatusLabels();
    }
    refreshing = false;

    const Deferred action = deferred;
    deferred = Deferred::None;
    switch (action) {
    case Deferred::Read:
        QTimer::singleShot(0, this, &MainWindow::on_readButton_clicked);
        break;
    case Deferred::Start:
        QTimer::singleShot(0, this, &MainWindow::on_startButton_clicked);
        break;
    case Deferred::Connection:
        QTimer::singleShot(0, this, &MainWindow::on_actionConnection_triggered);
        break;
    case Deferred::None:
        break;
    }
}

bool MainWindow::readLoggerStatus()
{
    LoggerStatus &s = loggerStatus;
    const bool identified = portManager->readBlocksRetry(0, Register::identityProbe, 1, STATUS_ATTEMPTS);
    if (identified) {
        const quint8 *f = portManager->replyFrame();
        s.address = quint32(f[1]) << 24 | quint32(f[2]) << 16 | quint32(f[3]) << 8 | f[4];
        ui->sn_lab->setStyleSheet(QStringLiteral("QLabel {color : green; }"));
    } else {
        ui->sn_lab->setStyleSheet(QStringLiteral("QLabel {color : red; }"));
    }
    if (s.address != 0)
        ui->sn_lab->setText(formatDeviceAddress(s.address));
    if (!identified)
        return false;

    auto read = [&](quint32 reg) { return portManager->readBlocksRetry(s.address, reg, 1, STATUS_ATTEMPTS); };
    const quint8 *p = portManager->replyData();

    if (!read(Register::identity))
        return false;
    s.deviceType = p[0];
    s.version = p[1];
    s.memorySizeCode = p[6];

    if (!read(Register::period))
        return false;
    s.periodCode = p[0];

    if (!read(Register::startTime))
        return false;
    s.startTime = startTimeFromBcd(p);

    if (!read(Register::calibration))
        return false;
    s.calibrationA = le16(p);
    s.calibrationB = le16(p + 2);

    if (!read(Register::usedBytes))
        return false;
    s.usedBytes = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16;

    if (!read(Register::secondsInPeriod))
        return false;
    s.secondsInPeriod = le16(p);
    return true;
}

void MainWindow::displayLoggerStatus()
{
    LoggerStatus &s = loggerStatus;
    const bool batteryRead = portManager->readBlocksRetry(s.address, Register::battery, 1, STATUS_ATTEMPTS);
    if (batteryRead)
        s.batteryCode = portManager->replyData()[0];
    completeStatus(s);
    topAddress = s.memoryTop;
    const StatusTexts texts = statusTexts(s);

    ui->version->setText(texts.version);
    ui->start_label->setText(texts.startTime);
    if (batteryRead)
        ui->pile_lab->setText(texts.battery);
    ui->free_mem_lab->setText(texts.freeMemory);
    ui->period_lab->setText(texts.period);

    if (const DeviceType *type = deviceTypeInfo(s.deviceType)) {
        ui->type->setText(QString::fromLatin1(type->screenName));
        LiveAnswers answers;
        for (const LiveRead &liveRead : liveReadPlan(s.deviceType)) {
            LiveAnswer &answer = answers.forRegister(liveRead.reg);
            answer.ok = portManager->readBlocksRetry(s.address, liveRead.reg, liveRead.blocks, STATUS_ATTEMPTS);
            if (answer.ok)
                std::copy(portManager->replyData(), portManager->replyData() + BLOCK_SIZE * liveRead.blocks,
                          answer.p.begin());
            if (!answer.ok && liveRead.stopOnFailure)
                break;
        }
        // The temperature logger expects this after each live reading.
        if (s.deviceType == 1 && answers.r40.ok)
            portManager->writeByteNoReply(s.address, Register::counterValue, 1);
        ui->real_txt->setText(liveReadingText(s, answers, ui->real_txt->text()));
    }

    ui->data_lab->setText(texts.storedRecords);
    ui->time_lab->setText(texts.loggerTime);
}
