#ifndef VANTOREL_ARCHIVEDIALOG_H
#define VANTOREL_ARCHIVEDIALOG_H

#include "archive.h"
#include "campaignreport.h"
#include "exportreader.h"

#include <QDialog>

#include <memory>

class QPushButton;
class QTreeWidget;

// The archive's loggers, their campaigns and downloads; a download opens in the campaign
// window or is saved as its export file.
class ArchiveDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ArchiveDialog(QWidget *parent = nullptr);
    ~ArchiveDialog() override;

    // Opens the archive and fills the tree; false with `error` set when it cannot be opened.
    bool load(const Archive::Location &location, QString &error);
    qint64 selectedDownload() const;   // 0 when no download is selected

public slots:
    void openSelected();
    void saveSelected();

signals:
    // `subject`: the download's id and its export file's SHA-256, for the report.
    void campaignOpened(const ExportData &data, const ReportSubject &subject);

private:
    std::optional<Archive::Download> fetchSelected(const QString &title);

    std::unique_ptr<Archive::Store> store;
    QTreeWidget *tree;
    QPushButton *openButton;
    QPushButton *saveButton;
};

#endif
