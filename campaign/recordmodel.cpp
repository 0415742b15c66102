#include "recordmodel.h"

#include "statusdisplay.h"

#include <cmath>

void RecordModel::setCampaign(const ExportData *data)
{
    beginResetModel();
    campaign = data;
    endResetModel();
}

int RecordModel::rowCount(const QModelIndex &parent) const
{
    // A view counts rows in int; no campaign comes near that.
    return parent.isValid() || !campaign ? 0 : int(std::min<size_t>(campaign->rowCount(), INT_MAX));
}

int RecordModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !campaign ? 0 : campaign->columnCount() + 1;
}

QVariant RecordModel::data(const QModelIndex &index, int role) const
{
    if (!campaign || !index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == 0 ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const size_t row = size_t(index.row());
    if (index.column() == 0)
        return stampText(campaign->times[row]);
    const double value = campaign->values[size_t(index.column() - 1)][row];
    if (std::isnan(value))
        return campaign->rowKinds[row] == ExportData::Overflow ? QStringLiteral("overflow") : QStringLiteral("-");
    return fixedText(value, 1);
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !campaign)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return section == 0 ? QStringLiteral("Date") : campaign->columnTitle(section - 1);
}
