#include "start.h"
#include "ui_start.h"

#include "campaign.h"
#include "clock.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "periods.h"
#include "settings.h"
#include "windowposition.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMessageBox>

namespace {
constexpr quint32 REG_PERIOD = 0x0100001A;
constexpr quint32 REG_USED_BYTES = 0x01000020;
constexpr quint32 REG_COUNTER = 0x00000048;
constexpr quint32 REG_SECONDS_IN_PERIOD = 0x00000042;
// Clock fields in the order they are written: hour, minute, second, year, month, day.
constexpr quint32 REG_START_FIELDS[6] = {0x01000033, 0x01000034, 0x01000035, 0x01000030, 0x01000031, 0x01000032};
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

    const bool written = portManager->writeByte(address, REG_PERIOD, code);
    const bool readBack = portManager->readBlocksRetry(address, REG_PERIOD, 1, READ_BACK_ATTEMPTS);
    bool good = written && readBack && portManager->replyData()[0] == code;

    if (good)
        for (quint32 i = 0; i < 3 && good; ++i)
            good = portManager->writeByte(address, REG_USED_BYTES + i, 0);
    if (good && hasRunningCounter(loggerStatus.deviceType))
        for (quint32 i = 0; i < 4 && good; ++i)
            good = portManager->writeByte(address, REG_COUNTER + i, 0);

    const AlignedStart aligned = alignedStart(Clock::now(), periodSeconds(periodCode));
    if (!good)
        return false;

    const StartClockBytes clock = startClockBytes(aligned.start);
    for (int i = 0; i < 6; ++i)
        if (!portManager->writeByte(address, REG_START_FIELDS[i], clock.bytes[i]))
            return false;
    if (!portManager->writeByte(address, REG_SECONDS_IN_PERIOD, quint8(aligned.remainder & 0xFF)))
        return false;
    return portManager->writeByte(address, REG_SECONDS_IN_PERIOD + 1, quint8(aligned.remainder >> 8));
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
