#include "start.h"
#include "ui_start.h"

#include "archiveddownload.h"
#include "campaign.h"
#include "loggerdevice.h"
#include "clock.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "portaccess.h"
#include "retrybox.h"
#include "periods.h"
#include "settings.h"
#include "windowarchive.h"
#include "windowposition.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMessageBox>

start::start(ManageSerialPort *portManager, WindowState *state, WindowArchive *archive, QWidget *parent)
    : QDialog(parent), ui(new Ui::start), portManager(portManager), state(state), archive(archive)
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
    // An adapter pulled out and put back since the last attempt left its port closed.
    if (!portManager->isOpen())
        Device::reopenConfiguredPort(*portManager);
    return Device::programNewCampaign(*portManager, loggerStatus, periodCode, &startedAt);
}

void start::logCampaignStarted()
{
    QString error;
    const auto record = [this](Archive::Store &store, QString *e) {
        return Archive::logCampaignStarted(&store, loggerStatus, periodCode, startedAt, e);
    };
    if (!archive->run(this, record, &error) && !state->quitting)
        QMessageBox::warning(this, QStringLiteral("Archive"),
                             QStringLiteral("<font color=red>The campaign was started, but the archive step failed</font><br />")
                                 + error.toHtmlEscaped());
}

bool start::sequenceRunning() const
{
    return state->situation == WindowState::Situation::Busy;
}

void start::on_Start_clicked()
{
    if (sequenceRunning() || state->quitting)
        return;
    const WindowState::Situation before = state->situation;
    state->situation = WindowState::Situation::Busy;
    bool started = false;
    while (!(started = programNewCampaign()) && askRetryCom(this, *state))
        continue;
    // Still busy while the archive records it: the dialog stays, and so does what the
    // window keeps for later.
    if (started)
        logCampaignStarted();
    state->situation = before;
    close();
}

void start::on_Cancel_clicked()
{
    if (!sequenceRunning())
        close();
}

void start::reject()
{
    close();
}

void start::closeEvent(QCloseEvent *event)
{
    if (sequenceRunning() && !state->quitting) {
        event->ignore();
        return;
    }
    emit closed();
    saveWindowPosition(this, SettingsKey::startX, SettingsKey::startY);
    event->accept();
}
