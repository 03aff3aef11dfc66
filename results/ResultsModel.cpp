#include "ResultsModel.h"

#include "FileSize.h"

#include <QBrush>
#include <QDateTime>
#include <QIcon>

#include <algorithm>

namespace {
// Rows taken in ascending order, as runs of neighbours (first row, count).
void addToRuns(std::vector<std::pair<int, int>> &runs, int row)
{
    if (!runs.empty() && runs.back().first + runs.back().second == row)
        ++runs.back().second;
    else
        runs.emplace_back(row, 1);
}

const QList<int> ColourRoles{Qt::BackgroundRole, Qt::ForegroundRole};
} // namespace

ResultsModel::ResultsModel(QObject *parent) : QAbstractTableModel(parent) {}

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int ResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown || index.column() > 1)
        return {};
    const Row &r = row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == 0 ? r.path : FormatFileSize(r.size);
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return r.checked ? Qt::Checked : Qt::Unchecked;
        break;
    case Qt::DecorationRole:
        // The protected mark needs no colour: a padlock, named in the tooltip.
        if (index.column() == 0 && r.isProtected)
            return QIcon(QStringLiteral(":/results/art/protected.svg"));
        break;
    case Qt::BackgroundRole:
        if (const auto colours = ColourForRow(index.row()))
            return QBrush(colours->background);
        break;
    case Qt::ForegroundRole:
        if (const auto colours = ColourForRow(index.row()))
            return QBrush(colours->text);
        break;
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole: {
        // Groups told apart without colour: where the row stands in its group and when the file changed.
        const auto [first, end] = groupRange(index.row());
        QString text = QStringLiteral("group %1 of %2, copy %3 of %4")
                           .arg(r.group)
                           .arg(m_groupCount)
                           .arg(index.row() - first + 1)
                           .arg(end - first);
        if (r.identity.valid)
            text += QStringLiteral(", modified ")
                + QDateTime::fromSecsSinceEpoch(r.identity.mtimeSeconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        if (r.isProtected)
            text += QLatin1Char('\n') + ProtectedFiles::reason();
        return role == Qt::ToolTipRole ? r.path + QLatin1Char('\n') + text : text;
    }
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
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0 || index.row() >= m_shown
        || m_checksLocked)
        return false;
    if (isProtected(index.row()))
        return false;
    SetCheckedByText(path(index.row()), value.toInt() == Qt::Checked);
    return true;
}

bool ResultsModel::removeRows(int first, int count, const QModelIndex &parent)
{
    showRows();
    if (parent.isValid() || first < 0 || count <= 0 || first + count > rows())
        return false;
    beginRemoveRows({}, first, first + count - 1);
    const auto begin = m_rows.begin() + first;
    m_rows.erase(begin, begin + count);
    m_shown = rows();
    endRemoveRows();
    return true;
}

void ResultsModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    m_shown = 0;
    m_groupCount = 0;
    m_positionGroup.clear();
    m_fill.clear();
    m_fillCount = 0;
    m_written.clear();
    m_protection = {}; // the next search's folders are set once it has found its rows
    endResetModel();
    emit cleared();
}

void ResultsModel::addRow(const ResultRow &added)
{
    // Until the comparison hands over what it saw, the file is examined as it is listed.
    m_rows.push_back(Row{added.path, added.size, added.identity.valid ? added.identity : identityOf(added.path),
                         added.group, added.collectionIndex, false});
    m_rows.back().isProtected = m_protection.protects(m_rows.back().path, m_rows.back().identity);
    m_groupCount = std::max(m_groupCount, added.group);
    m_positionGroup.push_back(added.group);
    scheduleShow();
}

void ResultsModel::scheduleShow()
{
    if (m_showQueued)
        return;
    m_showQueued = true;
    QMetaObject::invokeMethod(this, &ResultsModel::showRows, Qt::QueuedConnection);
}

void ResultsModel::showRows()
{
    m_showQueued = false;
    if (m_shown >= rows())
        return;
    beginInsertRows({}, m_shown, rows() - 1);
    m_shown = rows();
    endInsertRows();
}

void ResultsModel::announce(int first, int last, const QList<int> &roles)
{
    last = std::min(last, m_shown - 1);
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, roles.contains(Qt::CheckStateRole) ? 0 : 1), roles);
}

std::optional<RowColours> ResultsModel::ColourForRow(int position) const
{
    if (position < 0)
        return std::nullopt;
    if (m_written.isEmpty() && m_fillCount == 0) {
        // The search's own names, without building texts at every paint.
        if (static_cast<std::size_t>(position) >= m_positionGroup.size())
            return std::nullopt;
        const std::uint32_t group = m_positionGroup[static_cast<std::size_t>(position)];
        return coloursForName(group % 2 == 1 ? u"light blue" : u"blue");
    }
    return coloursForName(rowColour(position));
}

QString ResultsModel::rowColour(int position) const
{
    if (position < 0)
        return {};
    if (const auto written = m_written.constFind(position); written != m_written.cend())
        return *written;
    if (static_cast<std::size_t>(position) < m_fillCount)
        return m_fill;
    if (static_cast<std::size_t>(position) < m_positionGroup.size())
        return groupColourName(m_positionGroup[static_cast<std::size_t>(position)]);
    return {};
}

void ResultsModel::setRowColour(int position, const QString &name)
{
    if (position < 0)
        return;
    m_written.insert(position, name);
    announce(position, position, ColourRoles);
}

void ResultsModel::setAllRowColours(const QString &name)
{
    m_written.clear();
    m_fill = name;
    m_fillCount = std::max({m_fillCount, m_positionGroup.size(), m_rows.size()});
    announce(0, m_shown - 1, ColourRoles);
}

void ResultsModel::setColourState(ColourState state)
{
    m_fill = std::move(state.fill);
    m_fillCount = state.fillCount;
    m_written = std::move(state.written);
    announce(0, m_shown - 1, ColourRoles);
}

void ResultsModel::SetCheckedByText(const QString &text, bool checked)
{
    // One pass over the list; a path is normally listed once, so this finds one row.
    const int count = rows();
    for (int r = 0; r < count; ++r) {
        Row &each = m_rows[static_cast<std::size_t>(r)];
        if (each.path == text && each.checked != checked) {
            each.checked = checked;
            announce(r, r, {Qt::CheckStateRole});
        }
    }
}

void ResultsModel::setProtection(ProtectedFiles protection)
{
    m_protection = std::move(protection);
    for (Row &each : m_rows) {
        each.isProtected = m_protection.protects(each.path, each.identity);
        each.checked = each.checked && !each.isProtected;
    }
    announce(0, m_shown - 1, {Qt::CheckStateRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

void ResultsModel::uncheckAll()
{
    setCheckStates(std::vector<bool>(m_rows.size(), false));
}

void ResultsModel::setCheckStates(const std::vector<bool> &states)
{
    if (states.size() != m_rows.size())
        return;
    int first = -1, last = -1;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].checked == states[r])
            continue;
        m_rows[r].checked = states[r];
        if (first < 0)
            first = static_cast<int>(r);
        last = static_cast<int>(r);
    }
    // One change notice for the span that changed.
    if (first >= 0)
        announce(first, last, {Qt::CheckStateRole});
}

QString ResultsModel::sizeText(int r) const
{
    return FormatFileSize(row(r).size);
}

std::pair<int, int> ResultsModel::groupRange(int r) const
{
    const std::uint32_t group = row(r).group;
    int first = r, end = r + 1;
    while (first > 0 && m_rows[static_cast<std::size_t>(first - 1)].group == group)
        --first;
    while (end < rows() && m_rows[static_cast<std::size_t>(end)].group == group)
        ++end;
    return {first, end};
}

std::vector<int> ResultsModel::checkedRows() const
{
    std::vector<int> checked;
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].checked)
            checked.push_back(static_cast<int>(r));
    }
    return checked;
}

std::vector<ResultsModel::Row> ResultsModel::takeRowsWhere(const std::function<bool(int row)> &pick)
{
    showRows();
    std::vector<std::pair<int, int>> runs; // first row, count
    for (int r = 0; r < rows(); ++r) {
        if (pick(r))
            addToRuns(runs, r);
    }
    return takeRuns(runs);
}

std::vector<ResultsModel::Row> ResultsModel::takeRows(std::vector<int> rows)
{
    showRows();
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, int>> runs; // first row, count
    for (int r : rows) {
        if (r < 0 || r >= this->rows() || (!runs.empty() && runs.back().first + runs.back().second > r))
            continue;
        addToRuns(runs, r);
    }
    return takeRuns(runs);
}

std::vector<ResultsModel::Row> ResultsModel::takeRuns(const std::vector<std::pair<int, int>> &runs)
{
    std::vector<Row> taken;
    if (runs.empty())
        return taken;
    if (runs.size() > 64) {
        // Many scattered rows: one compaction beats shifting the list once per run.
        beginResetModel();
        std::vector<Row> kept;
        kept.reserve(m_rows.size());
        std::size_t next = 0;
        for (const auto &run : runs) {
            for (; next < static_cast<std::size_t>(run.first); ++next)
                kept.push_back(std::move(m_rows[next]));
            for (; next < static_cast<std::size_t>(run.first + run.second); ++next)
                taken.push_back(std::move(m_rows[next]));
        }
        for (; next < m_rows.size(); ++next)
            kept.push_back(std::move(m_rows[next]));
        m_rows = std::move(kept);
        m_shown = rows();
        endResetModel();
        return taken;
    }
    for (const auto &run : runs)
        for (int r = run.first; r < run.first + run.second; ++r)
            taken.push_back(m_rows[static_cast<std::size_t>(r)]);
    // From the last run back, so the rows still to go keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run)
        removeRows(run->first, run->second);
    return taken;
}

int ResultsModel::findRow(std::uint32_t group, std::uint32_t collectionIndex) const
{
    const auto key = [](const Row &row) { return std::pair(row.group, row.collectionIndex); };
    const auto wanted = std::pair(group, collectionIndex);
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), wanted,
                                     [&](const Row &row, const auto &value) { return key(row) < value; });
    return at != m_rows.end() && key(*at) == wanted ? static_cast<int>(at - m_rows.begin()) : -1;
}

void ResultsModel::restoreRows(std::vector<Row> back)
{
    if (back.empty())
        return;
    showRows();
    // Rows stand in group order and, within a group, in collection order.
    const auto before = [](const Row &a, const Row &b) {
        return a.group != b.group ? a.group < b.group : a.collectionIndex < b.collectionIndex;
    };
    std::sort(back.begin(), back.end(), before);
    beginResetModel();
    std::vector<Row> merged;
    merged.reserve(m_rows.size() + back.size());
    std::merge(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(m_rows.end()),
               std::make_move_iterator(back.begin()), std::make_move_iterator(back.end()), std::back_inserter(merged),
               before);
    m_rows = std::move(merged);
    m_shown = rows();
    endResetModel();
}
