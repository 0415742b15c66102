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
    static constexpr int OPEN_ATTEMPTS = 100;

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
    void openConnection();

    ManageSerialPort *portManager;
    QStringList ports;
    Ui::connection *ui;
    bool ownsPortManager = false;
};

#endif
