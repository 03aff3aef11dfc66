#include "ResultsModel.h"

#include "FileSize.h"

#include <QBrush>

namespace {
constexpr int ColourRoles[] = {Qt::BackgroundRole, Qt::ForegroundRole};
}

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
    if (!index.isValid() || index.row() >= rows() || index.column() > 1)
        return {};
    const Row &row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == 0 ? row.path : row.sizeText;
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        break;
    case Qt::BackgroundRole:
        if (const auto colours = ColourForRow(index.row()))
            return QBrush(colours->background);
        break;
    case Qt::ForegroundRole:
        if (const auto colours = ColourForRow(index.row()))
            return QBrush(colours->text);
        break;
    default:
        break;
    }
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && (section == 0 || section == 1))
        return section == 0 ? QStringLiteral("Filename") : QStringLiteral("Size");
    return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool ResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0 || index.row() >= rows())
        return false;
    SetCheckedByText(path(index.row()), value.toInt() == Qt::Checked);
    return true;
}

bool ResultsModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rows())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    eraseRows(row, count);
    endRemoveRows();
    return true;
}

void ResultsModel::eraseRows(int first, int count)
{
    const auto begin = m_rows.begin() + first;
    m_rows.erase(begin, begin + count);
}

void ResultsModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    m_rowColour.clear();
    m_group = 0;
    m_groupEnded = true;
    m_lastColour.clear();
    endResetModel();
}

void ResultsModel::addRow(const ResultRow &row)
{
    addRow(row.path, FormatFileSize(row.size), groupColourName(row.group), row.identity);
}

void ResultsModel::addRow(const QString &path, const QString &sizeText, const QString &colourName,
                          const FileIdentity &identity)
{
    // A group ends where the search says so, or where the colour name changes.
    if (m_groupEnded || colourName != m_lastColour) {
        ++m_group;
        m_groupEnded = false;
        m_lastColour = colourName;
    }
    const int at = rows();
    beginInsertRows({}, at, at);
    m_rows.push_back(Row{path, sizeText, identity.valid ? identity : identityOf(path), m_group, false});
    if (m_rowColour.size() <= static_cast<std::size_t>(at))
        m_rowColour.resize(static_cast<std::size_t>(at) + 1);
    m_rowColour[static_cast<std::size_t>(at)] = colourName;
    endInsertRows();
}

void ResultsModel::endGroup()
{
    m_groupEnded = true;
}

std::optional<RowColours> ResultsModel::ColourForRow(int position) const
{
    if (position < 0 || static_cast<std::size_t>(position) >= m_rowColour.size())
        return std::nullopt;
    return coloursForName(m_rowColour[static_cast<std::size_t>(position)]);
}

QString ResultsModel::rowColour(int position) const
{
    if (position < 0 || static_cast<std::size_t>(position) >= m_rowColour.size())
        return {};
    return m_rowColour[static_cast<std::size_t>(position)];
}

void ResultsModel::setRowColour(int position, const QString &name)
{
    if (position < 0)
        return;
    if (static_cast<std::size_t>(position) >= m_rowColour.size())
        m_rowColour.resize(static_cast<std::size_t>(position) + 1);
    m_rowColour[static_cast<std::size_t>(position)] = name;
    if (position < rows())
        emit dataChanged(index(position, 0), index(position, 1), {ColourRoles[0], ColourRoles[1]});
}

void ResultsModel::setAllRowColours(const QString &name)
{
    m_rowColour.assign(std::max(m_rowColour.size(), m_rows.size()), name);
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rows() - 1, 1), {ColourRoles[0], ColourRoles[1]});
}

void ResultsModel::SetCheckedByText(const QString &text, bool checked)
{
    // One pass over the list; a path is normally listed once, so this finds one row.
    const int count = rows();
    for (int r = 0; r < count; ++r) {
        Row &row = m_rows[static_cast<std::size_t>(r)];
        if (row.path == text && row.checked != checked) {
            row.checked = checked;
            const QModelIndex changed = index(r, 0);
            emit dataChanged(changed, changed, {Qt::CheckStateRole});
        }
    }
}

void ResultsModel::uncheckAll()
{
    for (Row &row : m_rows)
        row.checked = false;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rows() - 1, 0), {Qt::CheckStateRole});
}

std::vector<int> ResultsModel::checkedRows() const
{
    std::vector<int> rows;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].checked)
            rows.push_back(static_cast<int>(r));
    }
    return rows;
}

int ResultsModel::removeRowsWhere(const std::function<bool(int row)> &pick)
{
    std::vector<std::pair<int, int>> runs; // first row, count
    for (int r = 0; r < rows(); ++r) {
        if (!pick(r))
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == r)
            ++runs.back().second;
        else
            runs.emplace_back(r, 1);
    }
    int removed = 0;
    for (const auto &run : runs)
        removed += run.second;
    if (runs.size() > 64) {
        // Many scattered rows: one compaction beats shifting the list once per run.
        beginResetModel();
        std::vector<Row> kept;
        kept.reserve(m_rows.size() - static_cast<std::size_t>(removed));
        std::size_t next = 0;
        for (const auto &run : runs) {
            for (; next < static_cast<std::size_t>(run.first); ++next)
                kept.push_back(std::move(m_rows[next]));
            next = static_cast<std::size_t>(run.first + run.second);
        }
        for (; next < m_rows.size(); ++next)
            kept.push_back(std::move(m_rows[next]));
        m_rows = std::move(kept);
        endResetModel();
        return removed;
    }
    // From the last run back, so the rows still to go keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run)
        removeRows(run->first, run->second);
    return removed;
}
