#include "archivedialog.h"

#include "archivedcampaign.h"
#include "codecs.h"
#include "devicetypes.h"
#include "windowarchive.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

namespace {
constexpr int idRole = Qt::UserRole;
const QString clockFormat = QStringLiteral("dd/MM/yyyy hh:mm:ss");
} // namespace

ArchiveDialog::ArchiveDialog(WindowArchive *archive, QWidget *parent) : QDialog(parent), archive(archive)
{
    setWindowTitle(QStringLiteral("Archive"));
    resize(720, 480);
    tree = new QTreeWidget;
    tree->setObjectName(QStringLiteral("archiveTree"));
    tree->setHeaderLabels({QStringLiteral("Logger, campaign, download"), QStringLiteral("Records"),
                           QStringLiteral("Downloaded"), QStringLiteral("Host")});
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    openButton = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::ActionRole);
    saveButton = buttons->addButton(QStringLiteral("Save as export file..."), QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tree);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(openButton, &QPushButton::clicked, this, &ArchiveDialog::openSelected);
    connect(saveButton, &QPushButton::clicked, this, &ArchiveDialog::saveSelected);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &ArchiveDialog::openSelected);
    connect(tree, &QTreeWidget::currentItemChanged, this, [this] {
        openButton->setEnabled(selectedDownload() != 0);
        saveButton->setEnabled(selectedDownload() != 0);
    });
    openButton->setEnabled(false);
    saveButton->setEnabled(false);
}

ArchiveDialog::~ArchiveDialog() = default;

bool ArchiveDialog::load(QString &error)
{
    tree->clear();
    QVector<Archive::DownloadSummary> rows;
    const auto read = [&rows](Archive::Store &store, QString *e) {
        rows = store.downloads(std::nullopt, e);
        return e->isEmpty();
    };
    if (!archive->run(parentWidget(), read, &error))
        return false;
    setWindowTitle(QStringLiteral("Archive - ") + WindowArchive::location().display());
    // Logger, then campaign (its start), then each download of it, oldest first.
    QMap<quint32, QTreeWidgetItem *> loggers;
    QMap<std::pair<quint32, qint64>, QTreeWidgetItem *> campaigns;
    for (const Archive::DownloadSummary &row : rows) {
        QTreeWidgetItem *&logger = loggers[row.address];
        if (!logger)
            logger = new QTreeWidgetItem(tree, {formatDeviceAddress(row.address) + QStringLiteral("  ") + screenNameOf(row.deviceType)});
        const qint64 start = row.startTime.isValid() ? row.startTime.toSecsSinceEpoch() : 0;
        QTreeWidgetItem *&campaign = campaigns[{row.address, start}];
        if (!campaign)
            campaign = new QTreeWidgetItem(logger, {QStringLiteral("Campaign started ")
                                                    + (start ? row.startTime.toString(clockFormat) : QStringLiteral("-"))});
        auto *download = new QTreeWidgetItem(campaign, {QStringLiteral("Download %1").arg(row.id), QString::number(row.records),
                                                        row.downloadedAt.toLocalTime().toString(clockFormat), row.host});
        download->setData(0, idRole, row.id);
        campaign->setText(1, QString::number(row.records));
    }
    tree->expandAll();
    return true;
}

void ArchiveDialog::closeEvent(QCloseEvent *event)
{
    if (archive->busy())
        return event->ignore();
    QDialog::closeEvent(event);
}

qint64 ArchiveDialog::selectedDownload() const
{
    const QTreeWidgetItem *item = tree->currentItem();
    return item ? item->data(0, idRole).toLongLong() : 0;
}

std::optional<Archive::Download> ArchiveDialog::fetchSelected(const QString &title)
{
    QString error;
    std::optional<Archive::Download> download;
    const qint64 id = selectedDownload();
    const auto fetch = [&download, id](Archive::Store &store, QString *e) {
        download = store.download(id, e);
        if (download && !store.vouchesFor(*download, e)) {
            *e = QStringLiteral("The audit trail does not vouch for download %1, so it is neither opened nor saved: %2")
                     .arg(id).arg(*e);
            download.reset();
        }
        return download.has_value();
    };
    if (id)
        archive->run(this, fetch, &error);
    if (!download && !error.isEmpty())
        QMessageBox::warning(this, title, error);
    return download;
}

void ArchiveDialog::openSelected()
{
    const std::optional<Archive::Download> download = fetchSelected(QStringLiteral("Open"));
    if (!download)
        return;
    ExportData data;
    QString error;
    if (!archivedCampaign(*download, data, error))
        return void(QMessageBox::warning(this, QStringLiteral("Open"), error));
    emit campaignOpened(data, ReportSubject{sha256Hex(archivedExportText(*download)), download->id});
}

void ArchiveDialog::saveSelected()
{
    const QString title = QStringLiteral("Save as export file");
    const std::optional<Archive::Download> download = fetchSelected(title);
    if (!download)
        return;
    const QString path = QFileDialog::getSaveFileName(this, title, archivedExportName(*download),
                                                      QStringLiteral("Tab Separated Value (*.tsv)"));
    if (path.isEmpty())
        return;
    QString error;
    switch (saveArchivedExport(archive->recorder(this), *download, path, error)) {
    case ArchivedExport::FileFailed: QMessageBox::warning(this, title, error); break;
    case ArchivedExport::NotRecorded:
        QMessageBox::warning(this, title, QStringLiteral("The file was written, but the archive could not record it: ") + error);
        break;
    case ArchivedExport::Written: break;
    }
}
