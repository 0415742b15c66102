#ifndef VANTOREL_RECORDMODEL_H
#define VANTOREL_RECORDMODEL_H

#include "exportreader.h"

#include <QAbstractTableModel>

// Every record of a campaign, read straight from the columns (no item per cell).
class RecordModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit RecordModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}
    void setCampaign(const ExportData *data);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const ExportData *campaign = nullptr;
};

#endif
