#include "connection.h"
#include "ui_connection.h"

#include "manageserialport.h"
#include "portaccess.h"
#include "portwatcher.h"
#include "settings.h"
#include "windowposition.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMessageBox>

connection::connection(ManageSerialPort *portManager, QWidget *parent)
    : QDialog(parent), portManager(portManager), ui(new Ui::connection)
{
    ui->setupUi(this);
}

connection::~connection()
{
    delete ui;
}

void connection::fillPortList()
{
    Settings settings;
    ports.clear();
    ui->comboBox->clear();
    ports = PortWatcher::availablePortNames();
    ui->comboBox->addItems(ports);
    ui->comboBox->setCurrentIndex(ports.size() <= 1 ? 0 : -1);
    if (settings.contains(SettingsKey::comPort)) {
        const int index = ports.indexOf(settings.value(SettingsKey::comPort).toString());
        if (index >= 0)
            ui->comboBox->setCurrentIndex(index);
    }
}

bool connection::openConnection(QString *reason)
{
    ui->status->setText(QStringLiteral("Trying to open connection..."));
    const int index = ui->comboBox->currentIndex();
    const QString name = index >= 0 && index < ports.size() ? ports.at(index) : QString();

    if (portManager->isOpen()) {
        portManager->closePort();
        qDebug() << "serial com already open";
    }
    // Only this port, open after this very attempt, may be stored: an open refused while
    // another transaction waits leaves the old port open under the old name.
    const bool opened = Device::openPort(*portManager, name) && portManager->portName() == name;
    if (opened) {
        Settings().setValue(SettingsKey::comPort, name);
        portManager->setWatchedPort(name);
        close();
        return true;
    }
    ui->status->setText(QStringLiteral("<font color=red>Unable to open connection.</font><br />Please Try Again"));
    if (reason)
        *reason = name.isEmpty() ? QStringLiteral("no port chosen") : portManager->errorString();
    return false;
}

void connection::on_opencom_clicked()
{
    QString reason;
    const int index = ui->comboBox->currentIndex();
    const QString name = index >= 0 && index < ports.size() ? ports.at(index) : QString();
    if (!openConnection(&reason))
        QMessageBox::warning(this, QStringLiteral("Open Connection"), Device::openFailureText(name, reason));
}

void connection::on_refresh_clicked()
{
    fillPortList();
}

void connection::reject()
{
    close();
}

void connection::closeEvent(QCloseEvent *event)
{
    emit closed();
    if (!portManager->isOpen())
        openConnection();
    saveWindowPosition(this, SettingsKey::connectionX, SettingsKey::connectionY);
    event->accept();
}

void connection::showEvent(QShowEvent *)
{
    restoreWindowPosition(this, SettingsKey::connectionX, SettingsKey::connectionY);
    ui->status->setText(QString());
    fillPortList();
}
