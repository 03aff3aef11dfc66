#include "FolderListModel.h"

FolderListModel::FolderListModel(QObject *parent)
    : QAbstractTableModel(parent), m_icon(QStringLiteral(":/app/art/folder.svg"))
{}

QString FolderListModel::hint()
{
    return QStringLiteral("Drag and drop folders or click 'Add Folder' button.");
}

int FolderListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FolderListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant FolderListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() >= m_rows.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_rows.at(index.row());
    case Qt::DecorationRole:
        return m_icon;
    case Qt::ToolTipRole:
        return hint();
    default:
        return {};
    }
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
        return m_columns.at(section);
    return {};
}

Qt::ItemFlags FolderListModel::flags(const QModelIndex &index) const
{
    // Rows are not edited in place: the search takes the text exactly as it was added.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool FolderListModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_rows.size())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_rows.remove(row, count);
    endRemoveRows();
    return true;
}

void FolderListModel::addColumn(const QString &heading)
{
    const int at = static_cast<int>(m_columns.size());
    beginInsertColumns({}, at, at);
    m_columns << heading;
    endInsertColumns();
}

void FolderListModel::appendRow(const QString &text)
{
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows << text;
    endInsertRows();
}

void FolderListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}
