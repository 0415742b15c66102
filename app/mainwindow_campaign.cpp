// The "Campaign" menu: the last completed download, any export file or an archived download
// in the campaign window.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "archivedialog.h"
#include "campaignwindow.h"
#include "fleetwindow.h"
#include "portaccess.h"

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

void MainWindow::setupCampaignMenu()
{
    QMenu *menu = ui->menuBar->addMenu(QStringLiteral("Campaign"));
    menu->setObjectName(QStringLiteral("Campaign"));
    showLastDownloadAction = menu->addAction(QStringLiteral("Show last download"), this,
                                             [this] { openCampaignFile(lastDownloadPath); });
    showLastDownloadAction->setObjectName(QStringLiteral("actionShowLastDownload"));
    showLastDownloadAction->setEnabled(false);
    QAction *open = menu->addAction(QStringLiteral("Open export file..."), this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Open export file"), QString(),
            QStringLiteral("Tab Separated Value (*.tsv);;Text file (*.txt);;All files (*)"));
        if (!path.isEmpty())
            openCampaignFile(path);
    });
    open->setObjectName(QStringLiteral("actionOpenExportFile"));
    QAction *archive = menu->addAction(QStringLiteral("Archive..."), this, &MainWindow::showArchive);
    archive->setObjectName(QStringLiteral("actionArchive"));
    QAction *fleetAction = menu->addAction(QStringLiteral("All loggers..."), this, &MainWindow::showFleet);
    fleetAction->setObjectName(QStringLiteral("actionAllLoggers"));
}

void MainWindow::showFleet()
{
    if (!fleet) {
        // Its own top-level window; its workers end when it closes, or with this window.
        fleet = new FleetWindow(Device::configuredPort());
        fleet->setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &QObject::destroyed, fleet, [window = fleet] { delete window; });
    }
    fleet->show();
    fleet->raise();
    fleet->activateWindow();
}

void MainWindow::showArchive()
{
    if (!WindowArchive::location().enabled())
        return void(QMessageBox::information(this, QStringLiteral("Archive"),
                                             QStringLiteral("The archive is switched off (ARCHIVE/ENABLED in config.ini).")));
    auto *dialog = new ArchiveDialog(windowArchive, this);
    dialog->setObjectName(QStringLiteral("archiveDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QString error;
    if (!dialog->load(error)) {
        delete dialog;
        return void(QMessageBox::warning(this, QStringLiteral("Archive"), error));
    }
    connect(dialog, &ArchiveDialog::campaignOpened, this, [this](const ExportData &data, const ReportSubject &subject) {
        CampaignWindow *window = campaignWindow();
        window->setCampaign(data, subject);
        window->show();
        window->raise();
        window->activateWindow();
    });
    dialog->show();
}

void MainWindow::campaignDownloadCompleted(const QString &path)
{
    lastDownloadPath = path;
    showLastDownloadAction->setEnabled(true);
}

CampaignWindow *MainWindow::campaignWindow()
{
    if (!campaign) {
        // Its own top-level window, gone with the main window.
        campaign = new CampaignWindow(windowArchive);
        campaign->setObjectName(QStringLiteral("campaignWindow"));
        connect(this, &QObject::destroyed, campaign, [window = campaign] { delete window; });
    }
    return campaign;
}

void MainWindow::openCampaignFile(const QString &path)
{
    CampaignWindow *window = campaignWindow();
    if (!window->openFile(path))
        return;
    window->show();
    window->raise();
    window->activateWindow();
}
