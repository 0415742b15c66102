// "Read Data": the record memory of the logger into an export file, or no file at all.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "campaigndownload.h"
#include "clock.h"
#include "exportfile.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "outputfile.h"
#include "portaccess.h"
#include "retrybox.h"
#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>

void MainWindow::on_readButton_clicked()
{
    if (!admit(Action::Read))
        return;
    const Outcome outcome = downloadCampaign();
    if (state.quitting)
        return;
    switch (outcome) {
    case Outcome::Complete:
        QMessageBox::information(this, QStringLiteral("Read Data"),
                                 QStringLiteral("<font color=green>Download Complete</font>"));
        break;
    case Outcome::Cancelled:
        QMessageBox::information(this, QStringLiteral("Read Data"),
                                 QStringLiteral("<font color=red>Download cancelled</font><br />No file was written."));
        break;
    case Outcome::WriteFailed:
        QMessageBox::warning(this, QStringLiteral("Read Data"),
                             QStringLiteral("<font color=red>The file could not be written</font><br />")
                                 + exportError.toHtmlEscaped());
        break;
    }
    if (!archiveError.isEmpty() && !state.quitting)
        QMessageBox::warning(this, QStringLiteral("Archive"),
                             QStringLiteral("<font color=red>The archive step failed</font><br />")
                                 + archiveError.toHtmlEscaped());
    settle(Situation::Polling);
}

MainWindow::Outcome MainWindow::downloadCampaign()
{
    exportError.clear();
    archiveError.clear();
    enter(Situation::Busy);
    for (;;) {
        if (wakeUpLogger() && readLoggerStatus()) {
            if (state.quitting || !openExportFile())
                return Outcome::Cancelled;
            break;
        }
        if (!askRetryCom(this, state))
            return Outcome::Cancelled;
    }

    QProgressDialog progress(QStringLiteral("Data transfer in progress..."), QStringLiteral("Cancel"), 0, 100);
    progress.setWindowTitle(QStringLiteral("Downloading campaign..."));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.show();
    progress.setValue(0);

    Archive::DownloadCallbacks callbacks;
    callbacks.progress = [&](quint32 bytesRead, quint32 bytesToRead) {
        progress.setValue(int(qMin<quint64>(100, quint64(bytesRead) * 100 / bytesToRead)));
    };
    bool writing = false;
    callbacks.cancelled = [&] {
        // While the file is written no transaction runs the event loop: the window does.
        if (writing)
            QCoreApplication::processEvents();
        return progress.wasCanceled() || state.quitting;
    };
    callbacks.retrying = [&](quint32) {
        if (!askRetryCom(&progress, state))
            return false;
        if (!portManager->isOpen())
            Device::reopenConfiguredPort(*portManager);
        return true;
    };
    callbacks.step = [&](Archive::DownloadStep step) {
        writing = step == Archive::DownloadStep::WritingFile;
        progress.setLabelText(stepText(step));
    };
    // The user decides each new round of wake-ups: no budget.
    const Archive::DownloadPolicy policy{fullReadAction->isChecked(), -1};
    // The window's own connection, opened or checked while the window keeps answering.
    QString openError;
    progress.setLabelText(stepText(Archive::DownloadStep::OpeningArchive));
    const WindowArchive::Lease store = windowArchive->lease(this, &openError);
    const Archive::CampaignDownload done = Archive::downloadCampaign(*portManager, loggerStatus, *exportFile,
                                                                     Archive::Location(), store.get(), policy, callbacks);
    const QString chosen = exportFile->target();
    discardExportFile();
    switch (done.outcome) {
    case Archive::FileOutcome::Written:
        break;
    case Archive::FileOutcome::FileFailed:
        // The system's reason, the last flush's included; an earlier file of that name is kept.
        exportError = done.error;
        return Outcome::WriteFailed;
    case Archive::FileOutcome::LineFailed:
    case Archive::FileOutcome::Interrupted:
        return Outcome::Cancelled;
    }
    campaignDownloadCompleted(chosen);
    archiveError = openError.isEmpty() ? done.archiveError : openError;
    return Outcome::Complete;
}

QString MainWindow::stepText(Archive::DownloadStep step)
{
    switch (step) {
    case Archive::DownloadStep::OpeningArchive: return QStringLiteral("Opening the archive...");
    case Archive::DownloadStep::ReadingLogger: return QStringLiteral("Data transfer in progress...");
    case Archive::DownloadStep::StoringDownload: return QStringLiteral("Storing the download in the archive...");
    case Archive::DownloadStep::WritingFile: return QStringLiteral("Writing the file...");
    case Archive::DownloadStep::RecordingFile: return QStringLiteral("Recording the file in the archive...");
    }
    return QString();
}

void MainWindow::setupFullReadAction()
{
    // A check box in the menu: while it is on, "Read Data" reads the whole memory again.
    fullReadAction = ui->Configuration->addAction(QStringLiteral("Full read (whole memory)"));
    fullReadAction->setObjectName(QStringLiteral("actionFullRead"));
    fullReadAction->setCheckable(true);
}

void MainWindow::discardExportFile()
{
    if (!exportFile)
        return;
    exportFile->cancel();
    delete exportFile;
    exportFile = nullptr;
}

bool MainWindow::openExportFile()
{
    const QDateTime now = Clock::now();
    Settings settings;
    QDir directory = QDir::current();
    if (settings.contains(SettingsKey::exportDirectory))
        directory.setPath(QDir::current().absoluteFilePath(settings.value(SettingsKey::exportDirectory).toString()));
    const QString proposed = directory.absolutePath() + QLatin1Char('/')
        + proposedExportFileName(loggerStatus.address, now);

    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Save generated file as"), proposed,
                                                        QStringLiteral("Tab Separated Value (*.tsv);;Text file (*.txt)"));
    // A cancel ends the operation: nothing is stored, nothing is opened.
    if (chosen.isEmpty())
        return false;
    settings.setValue(SettingsKey::exportDirectory, QFileInfo(chosen).absolutePath());

    // Created before the memory is read: a place that cannot be written is said at once.
    exportFile = new OutputFile(chosen);
    while (!exportFile->open(QIODevice::WriteOnly)) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Cannot open file"),
                        QStringLiteral("File ") + chosen + QStringLiteral(" cannot be opened, retry ?"),
                        QMessageBox::Retry | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Retry);
        box.setInformativeText(exportFile->errorString());
        if (box.exec() != QMessageBox::Retry) {
            delete exportFile;
            exportFile = nullptr;
            return false;
        }
    }
    return true;
}
