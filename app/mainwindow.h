#ifndef VANTOREL_MAINWINDOW_H
#define VANTOREL_MAINWINDOW_H

#include "campaigndownload.h"
#include "loggerdevice.h"
#include "windowarchive.h"
#include "windowstate.h"

#include <QMainWindow>
#include <QPointer>

class CampaignWindow;
class FleetWindow;
class QAction;
class QCloseEvent;
class QTimer;
class ManageSerialPort;
class OutputFile;
class connection;
class start;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int POLL_INTERVAL_MS = 1000;
    // A closed port cannot answer; retrying it back to back would only spin.
    static constexpr int CLOSED_PORT_RETRY_MS = 1000;

    // With `campaignFile` (`vantorel FILE.tsv`) that file is shown in the campaign window as
    // soon as the event loop runs, and a port that does not open is not asked for at start:
    // the connection dialog, modal, would keep the campaign window from taking any input.
    explicit MainWindow(const QString &campaignFile = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows an export file in the campaign window.
    void openCampaignFile(const QString &path);

protected:
    // Closing the window ends whatever operation waits for the logger, and the program.
    void closeEvent(QCloseEvent *event) override;

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
    using Situation = WindowState::Situation;
    using Action = WindowState::Action;
    enum class Outcome { Complete, Cancelled, WriteFailed };

    // Refresh
    bool readLoggerStatus();
    void displayLoggerStatus();
    void clearStatusLabels();
    // Campaign download
    Outcome downloadCampaign();
    static QString stepText(Archive::DownloadStep step);
    bool openExportFile();
    void discardExportFile();
    void setupFullReadAction();
    // Start flow and shell
    bool wakeUpLogger();  // up to five wake-ups
    // The one place where the situation changes, with the timer and the buttons.
    void enter(Situation situation);
    // True when `action` may run now; while busy it is kept for later.
    bool admit(Action action);
    // An operation or a dialog (`closing`, still visible while it closes) is over: run
    // what was asked meanwhile, else poll again.
    void settle(Situation next, const QWidget *closing = nullptr);

    // Campaign menu (mainwindow_campaign.cpp)
    void setupCampaignMenu();
    void campaignDownloadCompleted(const QString &path);
    CampaignWindow *campaignWindow();
    void showArchive();   // the archive's downloads, one opens in the campaign window
    void showFleet();     // every other attached logger; this window keeps its own port

    QTimer *timer;
    Ui::MainWindow *ui;
    ManageSerialPort *portManager;
    connection *connectionDialog;
    start *startDialog;
    WindowState state;
    // One connection to the archive for the window's life, shared with its dialogs and the
    // campaign window.
    WindowArchive *windowArchive;
    OutputFile *exportFile = nullptr;
    QString exportError;
    QString archiveError;         // the last download's archive step failed: why
    QAction *fullReadAction = nullptr;
    CampaignWindow *campaign = nullptr;
    QAction *showLastDownloadAction = nullptr;
    QString lastDownloadPath;
    QPointer<FleetWindow> fleet;
};

#endif
