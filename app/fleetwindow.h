#ifndef VANTOREL_FLEETWINDOW_H
#define VANTOREL_FLEETWINDOW_H

// Every attached logger in one table, live, and their downloads several at once. The
// station's workers own the ports; the window shows what they report and never waits on a
// port, except for their end when it closes.

#include <QWidget>

#include <memory>

class CampaignWindow;
class FleetModel;
class QLabel;
class QTableView;

namespace Station {
class Monitor;
}

class FleetWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int INTERVAL_MS = 1000;
    static constexpr int STOP_MS = 2000;

    // `leftPort`: the main window's port, never touched here (empty: none).
    explicit FleetWindow(const QString &leftPort = QString(), QWidget *parent = nullptr);
    ~FleetWindow() override;

    FleetModel *model() const { return fleet; }
    // The main window's port changed (empty: it is closed).
    void leavePort(const QString &port);
    // The only ports watched from now on (empty: the station's default), kept in the
    // settings; false, told in the window, while downloads run.
    bool usePorts(const QStringList &ports);
    // Those of the settings.
    static QStringList configuredPorts();

    // Downloads the answering loggers of the selected rows (all rows: every one) into
    // `folder`; false, told in the window, when the folder cannot be written or none answers.
    bool downloadInto(const QString &folder, bool selectedOnly);
    // The selected logger's latest download in the campaign window.
    void openCampaign();
    void copyTable();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startStation(const QStringList &ports);
    void editPorts();
    void askFolderAndDownload(bool selectedOnly);
    void tell(const QString &text);
    void stopStation();

    FleetModel *fleet;
    std::unique_ptr<Station::Monitor> monitor;
    QTableView *table;
    QLabel *message;
    CampaignWindow *campaign = nullptr;
    QString left;                  // the main window's port
};

#endif
