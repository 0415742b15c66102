// The "Campaign" menu: the last completed download or any export file in the campaign window.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "campaignwindow.h"

#include <QFileDialog>
#include <QMenu>

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
        campaign = new CampaignWindow;
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
