#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "connection.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "settings.h"
#include "start.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

namespace {
const QString comUnknownText = QStringLiteral("<img src=icon/unknownsignal.png></img><font color= orange><b>COM ?</b></font>");
const QString noComText = QStringLiteral("<img src=icon/nosignal.png></img><font color= red><b>NO COM</b></font>");
const QString disconnectedText = QStringLiteral("<img src=icon/nosignal.png></img><font color= red><b>COM DISCONNECTED</b></font>");
const QString comOkText = QStringLiteral("<img src=icon/signal.png></img><font color= green><b>COM OK</b></font> ");
constexpr int REOPEN_DELAY_MS = 100;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    portManager = new ManageSerialPort(this);
    portManager->setObjectName(QStringLiteral("portManager"));
    connectionDialog = new connection(portManager);
    startDialog = new start(portManager);
    timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("timer"));
    connect(timer, &QTimer::timeout, this, &MainWindow::timerSlot);

    ui->setupUi(this);
    setWindowTitle(QStringLiteral("VanTorel v") + QString::number(VERSION_NUMBER));
    setupCampaignMenu();
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

    Settings settings;
    if (settings.contains(SettingsKey::comPort)) {
        portManager->openPort(settings.value(SettingsKey::comPort).toString());
        if (portManager->isOpen()) {
            timer->start(POLL_INTERVAL_MS);
        } else {
            qDebug() << "port not open";
            connectionDialog->show();
        }
    } else {
        qDebug() << "No value on the configuration file";
        connectionDialog->show();
    }
}

MainWindow::~MainWindow()
{
    timer->stop();
    delete connectionDialog;
    delete startDialog;
    delete ui;
}

void MainWindow::stopPolling()
{
    timer->stop();
    ui->centralWidget->setEnabled(false);
}

void MainWindow::resumePolling()
{
    ui->centralWidget->setEnabled(true);
    timer->start(POLL_INTERVAL_MS);
}

bool MainWindow::deferWhileRefreshing(Deferred action)
{
    if (!refreshing)
        return false;
    deferred = action;
    return true;
}

bool MainWindow::wakeUpLogger()
{
    // A port whose adapter was pulled out and put back between two looks of the port
    // watcher is closed without a plug event: try it again.
    if (!portManager->isOpen())
        reopenConfiguredPort();
    for (int attempt = 0; attempt < 5; ++attempt)
        if (portManager->wakeUpDevice())
            return true;
    return false;
}

bool MainWindow::askRetryCom(QWidget *parent)
{
    return QMessageBox::warning(parent, QStringLiteral("Error COM"), QStringLiteral("Error COM, retry ?"),
                                QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Cancel;
}

void MainWindow::on_startButton_clicked()
{
    if (deferWhileRefreshing(Deferred::Start))
        return;
    stopPolling();
    for (;;) {
        if (wakeUpLogger() && readLoggerStatus()) {
            displayLoggerStatus();
            startDialog->show();
            return;
        }
        if (!askRetryCom(this)) {
            resumePolling();
            return;
        }
    }
}

void MainWindow::on_actionConnection_triggered()
{
    if (deferWhileRefreshing(Deferred::Connection))
        return;
    stopPolling();
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
    // The adapter came back: reopen it so the next transaction finds the logger. Never
    // under a transaction that waits for its answer.
    if (portManager->isWaiting()) {
        QTimer::singleShot(REOPEN_DELAY_MS, this, &MainWindow::com_open);
        return;
    }
    reopenConfiguredPort();
}

void MainWindow::reopenConfiguredPort()
{
    const QString name = Settings().value(SettingsKey::comPort).toString();
    if (name.isEmpty())
        return;
    portManager->closePort();
    portManager->openPort(name);
}

void MainWindow::connection_closed()
{
    // With the new-campaign dialog still open, polling would share the wire with it.
    if (startDialog->isVisible())
        return;
    resumePolling();
}

void MainWindow::start_closed()
{
    if (connectionDialog->isVisible())
        return;
    resumePolling();
}
