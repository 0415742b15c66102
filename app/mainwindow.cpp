#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "fleetwindow.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "portaccess.h"
#include "retrybox.h"
#include "settings.h"
#include "start.h"
#include "version.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include <utility>

namespace {
const QString comUnknownText = QStringLiteral("<img src=icon/unknownsignal.png></img><font color= orange><b>COM ?</b></font>");
const QString noComText = QStringLiteral("<img src=icon/nosignal.png></img><font color= red><b>NO COM</b></font>");
const QString disconnectedText = QStringLiteral("<img src=icon/nosignal.png></img><font color= red><b>COM DISCONNECTED</b></font>");
const QString comOkText = QStringLiteral("<img src=icon/signal.png></img><font color= green><b>COM OK</b></font> ");
} // namespace

MainWindow::MainWindow(const QString &campaignFile, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    portManager = new ManageSerialPort(this);
    portManager->setObjectName(QStringLiteral("portManager"));
    windowArchive = new WindowArchive(this);
    connectionDialog = new connection(portManager);
    startDialog = new start(portManager, &state, windowArchive);
    timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("timer"));
    connect(timer, &QTimer::timeout, this, &MainWindow::timerSlot);

    ui->setupUi(this);
    setWindowTitle(QStringLiteral("VanTorel v") + QString::number(VANTOREL_VERSION_NUMBER));
    setupCampaignMenu();
    setupFullReadAction();
    for (QLabel *label : {ui->sn_lab, ui->real_txt, ui->type, ui->version, ui->period_lab, ui->start_label,
                          ui->data_lab, ui->free_mem_lab, ui->time_lab, ui->pile_lab})
        label->setText(QString());
    ui->comStatus->setText(comUnknownText);

    connect(portManager, &ManageSerialPort::errorCom, this, &MainWindow::error_com);
    connect(portManager, &ManageSerialPort::noErrorCom, this, &MainWindow::no_error_com);
    connect(portManager, &ManageSerialPort::comclose, this, &MainWindow::com_closed);
    connect(portManager, &ManageSerialPort::comopen, this, &MainWindow::com_open);
    connect(connectionDialog, &connection::closed, this, &MainWindow::connection_closed);
    connect(startDialog, &start::closed, this, &MainWindow::start_closed);

    loggerStatus.address = 0;
    loggerStatus.startTime.setTimeSpec(Qt::UTC);
    loggerStatus.loggerTime.setTimeSpec(Qt::UTC);

    if (!campaignFile.isEmpty())
        QTimer::singleShot(0, this, [this, campaignFile] { openCampaignFile(campaignFile); });
    if (!Device::configuredPort().isEmpty()) {
        if (Device::openPort(*portManager, Device::configuredPort())) {
            enter(Situation::Polling);
            return;
        }
        qDebug() << "port not open";
    } else {
        qDebug() << "No value on the configuration file";
    }
    if (!campaignFile.isEmpty()) {
        // Polling finds no logger and says so; Configuration > Connection chooses a port.
        enter(Situation::FastRetry);
        return;
    }
    // The buttons stay usable behind the first connection dialog; nothing polls until it closes.
    state.situation = Situation::WaitingForDialog;
    connectionDialog->show();
}

MainWindow::~MainWindow()
{
    timer->stop();
    delete connectionDialog;
    delete startDialog;
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Wake-ups, retry boxes and read-outs all look at this and give up; quitting also
    // ends the dialogs' loops, so no process goes on without its window.
    state.quitting = true;
    timer->stop();
    connectionDialog->hide();
    startDialog->hide();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::enter(Situation situation)
{
    state.situation = situation;
    switch (situation) {
    case Situation::Polling:
        ui->centralWidget->setEnabled(true);
        // A refresh that succeeded has already set the next tick a second after its wake-up.
        if (!timer->isActive() || timer->interval() != POLL_INTERVAL_MS)
            timer->start(POLL_INTERVAL_MS);
        break;
    case Situation::FastRetry:
        ui->centralWidget->setEnabled(true);
        timer->start(portManager->isOpen() ? 0 : CLOSED_PORT_RETRY_MS);
        break;
    case Situation::Refreshing:
        break;
    case Situation::Busy:
    case Situation::WaitingForDialog:
        timer->stop();
        ui->centralWidget->setEnabled(false);
        break;
    }
}

bool MainWindow::admit(Action action)
{
    if (state.quitting)
        return false;
    if (state.idle())
        return true;
    // The menu stays usable beside the new-campaign dialog while it only waits for the user.
    if (action == Action::Connection && state.situation == Situation::WaitingForDialog)
        return !connectionDialog->isVisible();
    if (state.situation == Situation::Refreshing || state.situation == Situation::Busy)
        state.pending = action;
    return false;
}

void MainWindow::settle(Situation next, const QWidget *closing)
{
    if (state.quitting) {
        timer->stop();
        return;
    }
    // Another dialog is still open: polling waits for its closed() too.
    const auto open = [closing](const QWidget *dialog) { return dialog != closing && dialog->isVisible(); };
    if (open(connectionDialog) || open(startDialog)) {
        enter(Situation::WaitingForDialog);
        return;
    }
    enter(next);
    switch (std::exchange(state.pending, Action::None)) {
    case Action::Read:
        on_readButton_clicked();
        break;
    case Action::Start:
        on_startButton_clicked();
        break;
    case Action::Connection:
        on_actionConnection_triggered();
        break;
    case Action::None:
        break;
    }
}

bool MainWindow::wakeUpLogger()
{
    // A port whose adapter was pulled out and put back between two looks of the port
    // watcher is closed without a plug event: try it again.
    if (!portManager->isOpen())
        Device::reopenConfiguredPort(*portManager);
    return !state.quitting && Device::wakeUp(*portManager);
}

void MainWindow::on_startButton_clicked()
{
    if (!admit(Action::Start))
        return;
    enter(Situation::Busy);
    for (;;) {
        if (wakeUpLogger() && readLoggerStatus()) {
            displayLoggerStatus();
            if (state.quitting)
                return;
            enter(Situation::WaitingForDialog);
            startDialog->show();
            // The menu used during the wake-ups acts now, beside the new-campaign dialog.
            if (std::exchange(state.pending, Action::None) == Action::Connection)
                on_actionConnection_triggered();
            return;
        }
        if (!askRetryCom(this, state)) {
            settle(Situation::Polling);
            return;
        }
    }
}

void MainWindow::on_actionConnection_triggered()
{
    if (!admit(Action::Connection))
        return;
    enter(Situation::WaitingForDialog);
    connectionDialog->show();
}

void MainWindow::error_com()
{
    ui->comStatus->setText(noComText);
}

void MainWindow::no_error_com()
{
    ui->comStatus->setText(comOkText);
}

void MainWindow::com_closed()
{
    ui->comStatus->setText(disconnectedText);
}

void MainWindow::com_open()
{
    // The adapter came back: reopen it now if nothing else uses the wire; otherwise the
    // next refresh or wake-up finds the port closed and reopens it.
    if (state.idle() && !portManager->isWaiting())
        Device::reopenConfiguredPort(*portManager);
}

void MainWindow::connection_closed()
{
    // The port chosen may be another one: the fleet window leaves that one alone now.
    if (fleet)
        fleet->leavePort(Device::configuredPort());
    // An operation that runs settles the window itself when it is over.
    if (state.situation == Situation::WaitingForDialog)
        settle(Situation::Polling, connectionDialog);
}

void MainWindow::start_closed()
{
    if (state.situation == Situation::WaitingForDialog)
        settle(Situation::Polling, startDialog);
}
