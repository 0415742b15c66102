#ifndef VANTOREL_ARCHIVEDIALOG_H
#define VANTOREL_ARCHIVEDIALOG_H

#include "archive.h"
#include "campaignreport.h"
#include "exportreader.h"

#include <QDialog>

#include <memory>

class QPushButton;
class QTreeWidget;
class WindowArchive;

// The archive's loggers, their campaigns and downloads; a download opens in the campaign
// window or is saved as its export file.
class ArchiveDialog : public QDialog
{
    Q_OBJECT

public:
    // `archive`: the connection of the window that opens the dialog.
    explicit ArchiveDialog(WindowArchive *archive, QWidget *parent = nullptr);
    ~ArchiveDialog() override;

    // Fills the tree from the archive; false with `error` set when it cannot be read.
    bool load(QString &error);
    qint64 selectedDownload() const;   // 0 when no download is selected

public slots:
    void openSelected();
    void saveSelected();

signals:
    // `subject`: the download's id and its export file's SHA-256, for the report.
    void campaignOpened(const ExportData &data, const ReportSubject &subject);

protected:
    // Not while a step on the archive waits: the dialog deletes itself when closed.
    void closeEvent(QCloseEvent *event) override;

private:
    std::optional<Archive::Download> fetchSelected(const QString &title);

    WindowArchive *archive;
    QTreeWidget *tree;
    QPushButton *openButton;
    QPushButton *saveButton;
};

#endif
