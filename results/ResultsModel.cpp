#include "ResultsModel.h"

ResultsModel::ResultsModel(QObject *parent) : QAbstractTableModel(parent) {}

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size())
        return {};
    const Row &row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? row.path : row.sizeText;
    if (role == Qt::CheckStateRole && index.column() == 0)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section == 0 ? QStringLiteral("Filename") : QStringLiteral("Size");
    return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool ResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0)
        return false;
    m_rows[static_cast<std::size_t>(index.row())].checked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

void ResultsModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    m_rowColour.clear();
    endResetModel();
}

void ResultsModel::addRow(const QString &path, const QString &sizeText, const QString &colourName)
{
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.push_back(Row{path, sizeText, false});
    m_rowColour.push_back(colourName);
    endInsertRows();
}
