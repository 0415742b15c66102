#ifndef VANTOREL_MAINWINDOW_H
#define VANTOREL_MAINWINDOW_H

#include "records.h"

#include <QDateTime>
#include <QMainWindow>

#include <array>

class CampaignWindow;
class QAction;
class QProgressDialog;
class QSaveFile;
class QTimer;
class ManageSerialPort;
class connection;
class start;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int VERSION_NUMBER = 101;
    static constexpr int POLL_INTERVAL_MS = 1000;
    // A closed port cannot answer; retrying it back to back would only spin.
    static constexpr int CLOSED_PORT_RETRY_MS = 1000;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows an export file in the campaign window.
    void openCampaignFile(const QString &path);

private slots:
    void on_readButton_clicked();
    void on_startButton_clicked();
    void on_actionConnection_triggered();
    void timerSlot();
    void error_com();
    void no_error_com();
    void com_closed();
    void com_open();
    void connection_closed();
    void start_closed();

private:
    enum class Outcome { Complete, Cancelled, WriteFailed };
    enum class Deferred { None, Read, Start, Connection };

    // Refresh
    bool readLoggerStatus();
    void displayLoggerStatus();
    void clearStatusLabels();
    // Campaign download
    Outcome downloadCampaign();
    bool openExportFile();
    bool readRecordMemory(QProgressDialog &progress);
    bool writeRecordLines(QProgressDialog &progress);
    void discardExportFile();
    // Start flow and shell
    bool wakeUpLogger();  // up to five wake-ups
    void reopenConfiguredPort();
    bool askRetryCom(QWidget *parent);
    void resumePolling();
    void stopPolling();
    // A button pressed while a refresh waits for the logger acts once the refresh is over.
    bool deferWhileRefreshing(Deferred action);

    // Campaign menu (mainwindow_campaign.cpp)
    void setupCampaignMenu();
    void campaignDownloadCompleted(const QString &path);
    CampaignWindow *campaignWindow();

    QTimer *timer;
    Ui::MainWindow *ui;
    ManageSerialPort *portManager;
    connection *connectionDialog;
    start *startDialog;
    quint32 topAddress = 0x1FFFF;
    quint32 endAddress = 0;
    quint32 readAddress = 0;
    bool memoryWrapped = false;
    QSaveFile *exportFile = nullptr;
    QString exportError;
    std::array<quint8, MEMORY_IMAGE_SIZE> memoryImage{};
    bool refreshing = false;
    Deferred deferred = Deferred::None;
    CampaignWindow *campaign = nullptr;
    QAction *showLastDownloadAction = nullptr;
    QString lastDownloadPath;
};

#endif
