#include "FolderListModel.h"

FolderListModel::FolderListModel(QObject *parent)
    : QAbstractTableModel(parent), m_icon(QStringLiteral(":/app/art/folder.svg")),
      m_protectedIcon(QStringLiteral(":/app/art/protected-folder.svg"))
{}

void FolderListModel::setProtected(int row, bool on)
{
    if (row < 0 || row >= m_rows.size() || m_protected.at(row) == on)
        return;
    m_protected[row] = on;
    emit dataChanged(index(row, 0), index(row, 0));
}

QStringList FolderListModel::protectedRows() const
{
    QStringList rows;
    for (qsizetype row = 0; row < m_rows.size(); ++row)
        if (m_protected.at(row))
            rows << m_rows.at(row);
    return rows;
}

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
        return isProtected(index.row()) ? m_protectedIcon : m_icon;
    case Qt::ToolTipRole:
        return isProtected(index.row()) ? QStringLiteral("Protected: its files are never checked or moved.\n") + hint()
                                        : hint();
    case Qt::AccessibleTextRole: // the padlock's name, for those who do not see it
        if (isProtected(index.row()))
            return m_rows.at(index.row()) + QStringLiteral(", protected");
        return {};
    case Qt::AccessibleDescriptionRole:
        if (isProtected(index.row()))
            return QStringLiteral("Protected folder");
        return {};
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
    m_protected.remove(row, count);
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
    m_protected << false;
    endInsertRows();
}

void FolderListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_protected.clear();
    endResetModel();
}
