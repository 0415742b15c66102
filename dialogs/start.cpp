#include "start.h"
#include "ui_start.h"

#include "campaign.h"
#include "clock.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "periods.h"
#include "registers.h"
#include "settings.h"
#include "windowposition.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMessageBox>

namespace {
constexpr quint32 READ_BACK_ATTEMPTS = 2;

bool hasRunningCounter(quint8 deviceType)
{
    return deviceType == 2 || deviceType == 8;
}
} // namespace

start::start(ManageSerialPort *portManager, QWidget *parent)
    : QDialog(parent), ui(new Ui::start), portManager(portManager)
{
    ui->setupUi(this);
}

start::~start()
{
    delete ui;
}

void start::showEvent(QShowEvent *)
{
    restoreWindowPosition(this, SettingsKey::startX, SettingsKey::startY);
    periodCode = loggerStatus.periodCode;
    // A code the list does not know: offer the first period rather than pretend.
    if (!isValidPeriodCode(periodCode))
        periodCode = comboIndexToPeriodCode(0);
    ui->period_combo->setCurrentIndex(periodCodeToComboIndex(periodCode));
    updateMemoryFullDate();
}

void start::on_period_combo_currentIndexChanged(int)
{
    const int code = comboIndexToPeriodCode(ui->period_combo->currentIndex());
    if (code < 0)
        return;
    periodCode = code;
    qDebug() << periodSeconds(periodCode);
    updateMemoryFullDate();
}

void start::updateMemoryFullDate()
{
    const QDateTime now = Clock::now();
    memoryFullDate = ::memoryFullDate(now, loggerStatus.memoryTop, loggerStatus.recordSize, periodSeconds(periodCode));
    qDebug() << memoryFullDate;
    ui->date_lab->setText(memoryFullDate.toString(QStringLiteral("dd/MM/yy hh:mm")));
}

bool start::programNewCampaign()
{
    const quint32 address = loggerStatus.address;
    const quint8 code = quint8(periodCode);

    const bool written = portManager->writeByte(address, Register::period, code);
    const bool readBack = portManager->readBlocksRetry(address, Register::period, 1, READ_BACK_ATTEMPTS);
    bool good = written && readBack && portManager->replyData()[0] == code;

    if (good)
        for (quint32 i = 0; i < 3 && good; ++i)
            good = portManager->writeByte(address, Register::usedBytes + i, 0);
    if (good && hasRunningCounter(loggerStatus.deviceType))
        for (quint32 i = 0; i < 4 && good; ++i)
            good = portManager->writeByte(address, Register::counter + i, 0);

    const AlignedStart aligned = alignedStart(Clock::now(), periodSeconds(periodCode));
    if (!good)
        return false;

    const StartClockBytes clock = startClockBytes(aligned.start);
    for (int i = 0; i < 6; ++i)
        if (!portManager->writeByte(address, Register::startFieldsInWriteOrder[i], clock.bytes[i]))
            return false;
    if (!portManager->writeByte(address, Register::secondsInPeriod, quint8(aligned.remainder & 0xFF)))
        return false;
    return portManager->writeByte(address, Register::secondsInPeriod + 1, quint8(aligned.remainder >> 8));
}

void start::on_Start_clicked()
{
    if (programming)
        return;
    programming = true;
    bool again = true;
    while (again) {
        if (programNewCampaign())
            break;
        again = QMessageBox::warning(this, QStringLiteral("Error COM"), QStringLiteral("Error COM, retry ?"),
                                     QMessageBox::Ok | QMessageBox::Cancel)
            != QMessageBox::Cancel;
    }
    programming = false;
    close();
}

void start::on_Cancel_clicked()
{
    if (!programming)
        close();
}

void start::reject()
{
    close();
}

void start::closeEvent(QCloseEvent *event)
{
    if (programming) {
        event->ignore();
        return;
    }
    emit closed();
    saveWindowPosition(this, SettingsKey::startX, SettingsKey::startY);
    event->accept();
}
