// "Read Data": the record memory of the logger into an export file, or no file at all.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "clock.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "loggerstatus.h"
#include "manageserialport.h"
#include "registers.h"
#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSaveFile>

namespace {
constexpr quint8 BLOCKS_PER_READ = 8;
constexpr quint32 BYTES_PER_READ = 64;
constexpr quint32 READ_ATTEMPTS = 5;
constexpr int LINES_PER_SLICE = 65536;
} // namespace

void MainWindow::on_readButton_clicked()
{
    if (deferWhileRefreshing(Deferred::Read))
        return;
    switch (downloadCampaign()) {
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
    resumePolling();
}

MainWindow::Outcome MainWindow::downloadCampaign()
{
    memoryWrapped = false;
    exportError.clear();
    stopPolling();
    for (;;) {
        if (wakeUpLogger() && readLoggerStatus()) {
            if (!openExportFile())
                return Outcome::Cancelled;
            break;
        }
        if (!askRetryCom(this))
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

    if (!readRecordMemory(progress) || !writeRecordLines(progress)) {
        discardExportFile();
        return Outcome::Cancelled;
    }
    const bool committed = exportError.isEmpty() && exportFile->commit();
    if (!committed && exportError.isEmpty())
        exportError = exportFile->fileName() + QStringLiteral(": ") + exportFile->errorString();
    if (committed)
        campaignDownloadCompleted(exportFile->fileName());
    delete exportFile;
    exportFile = nullptr;
    return committed ? Outcome::Complete : Outcome::WriteFailed;
}

bool MainWindow::readRecordMemory(QProgressDialog &progress)
{
    const LoggerStatus &s = loggerStatus;
    topAddress = s.memorySizeCode == 4 ? 0x3FFFF : 0x1FFFF;
    memoryWrapped = s.usedBytes > topAddress;
    readAddress = 0;
    endAddress = memoryWrapped ? topAddress + 1 : s.usedBytes;

    while (readAddress < endAddress) {
        if (!portManager->readBlocksRetry(s.address, Register::recordMemory + readAddress, BLOCKS_PER_READ,
                                          READ_ATTEMPTS)) {
            if (!askRetryCom(&progress))
                return false;
            wakeUpLogger();
            continue;
        }
        const quint8 *data = portManager->replyData();
        std::copy(data, data + BYTES_PER_READ, memoryImage.begin() + readAddress);
        readAddress += BYTES_PER_READ;
        progress.setValue(int(qMin<quint64>(100, quint64(readAddress) * 100 / endAddress)));
        if (progress.wasCanceled())
            return false;
    }
    return true;
}

bool MainWindow::writeRecordLines(QProgressDialog &progress)
{
    const LoggerStatus &s = loggerStatus;
    RecordPassParams params = recordPassParams(s);
    // From the type just read, not from an older display: the columns must match the header.
    params.recordSize = recordSizeOf(s.deviceType);
    params.memoryWrapped = memoryWrapped;
    params.topAddress = topAddress;

    QByteArray text = exportHeader(s.address, s.deviceType);
    RecordPass pass(params, memoryImage.data());
    for (;;) {
        pass.writeLines(text, LINES_PER_SLICE);
        // A short write (a full disk) leaves no error for the commit to see.
        if (exportFile->write(text) != text.size()) {
            exportError = exportFile->fileName() + QStringLiteral(": only part of the file could be written (")
                + exportFile->errorString() + QStringLiteral(")");
            exportFile->cancelWriting();
            return true;
        }
        text.resize(0);
        if (pass.atEnd())
            return true;
        QCoreApplication::processEvents();
        if (progress.wasCanceled())
            return false;
    }
}

void MainWindow::discardExportFile()
{
    if (!exportFile)
        return;
    exportFile->cancelWriting();
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
    settings.setValue(SettingsKey::exportDirectory,
                      chosen.isEmpty() ? QDir::currentPath() : QFileInfo(chosen).absolutePath());

    exportFile = new QSaveFile(chosen);
    // A save file without a name would still open, as a stray temporary file.
    while (chosen.isEmpty() || !exportFile->open(QIODevice::WriteOnly)) {
        const auto answer = QMessageBox::information(
            this, QStringLiteral("Cannot open file"),
            QStringLiteral("File ") + chosen + QStringLiteral(" cannot be opened, retry ?"),
            QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry);
        if (answer != QMessageBox::Retry) {
            delete exportFile;
            exportFile = nullptr;
            return false;
        }
    }
    return true;
}
