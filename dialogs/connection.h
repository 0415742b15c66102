#ifndef VANTOREL_CONNECTION_H
#define VANTOREL_CONNECTION_H

#include <QDialog>
#include <QStringList>

class ManageSerialPort;

namespace Ui {
class connection;
}

// Chooses the serial port of the logger and opens it.
class connection : public QDialog
{
    Q_OBJECT

public:
    explicit connection(ManageSerialPort *portManager, QWidget *parent = nullptr);
    ~connection() override;

    // Escape closes like the title bar does, so the window always hears of it.
    void reject() override;

signals:
    void closed();

private slots:
    void on_opencom_clicked();
    void on_refresh_clicked();
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void fillPortList();
    // True when the chosen port is open; `reason` gets the system's word when it is not.
    bool openConnection(QString *reason = nullptr);

    ManageSerialPort *portManager;
    QStringList ports;
    Ui::connection *ui;
};

#endif
