#pragma once

#include "FileIdentity.h"
#include "GroupColours.h"
#include "ProtectedFiles.h"
#include "ResultsSink.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The results list ListView1: one row per listed file (path, size, group, check mark) and
// the row-colour table RowColour, looked up by a row's current position at every paint.
// RowColour belongs to positions, not to rows: removing a row leaves it as it is.
// Texts (size, colour name) are derived when a row is shown, so adding a row costs little.
class ResultsModel final : public QAbstractTableModel, public ResultsSink
{
    Q_OBJECT

public:
    // One listed file as the list keeps it.
    struct Row
    {
        QString path;
        std::int64_t size = 0;
        FileIdentity identity; // what the comparison saw
        std::uint32_t group = 0;
        std::uint32_t collectionIndex = 0;
        bool checked = false;
        bool isProtected = false; // under a protected folder: never checked
    };

    explicit ResultsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A check change from the view applies to every row with the same text.
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    bool removeRows(int row, int count, const QModelIndex &parent = {}) override;

    // ResultsSink. Rows are announced to views in batches (at the next event loop turn, or
    // at showRows()), so a million rows cost one insertion, not a million.
    void clearRows() override;
    void addRow(const ResultRow &row) override;
    void endGroup() override {}
    std::size_t rowCount() const override { return m_rows.size(); }
    int rows() const { return static_cast<int>(m_rows.size()); }
    // Announces every row added so far to the views.
    void showRows();

    // The colours of the row at this position, or none for the list's own colours.
    std::optional<RowColours> ColourForRow(int position) const;
    QString rowColour(int position) const;
    void setRowColour(int position, const QString &name);
    // Gives every position, and at least every current row, this colour name; then repaints.
    void setAllRowColours(const QString &name);
    // Every position's colour name, to be given back later.
    struct ColourState
    {
        QString fill;
        std::size_t fillCount = 0;
        QHash<int, QString> written;
    };
    ColourState colourState() const { return {m_fill, m_fillCount, m_written}; }
    void setColourState(ColourState state);
    // While locked, check marks cannot be changed from the view.
    void setChecksLocked(bool locked) { m_checksLocked = locked; }

    // Sets the check mark of every row whose text equals text exactly.
    void SetCheckedByText(const QString &text, bool checked);
    void uncheckAll();
    // Sets the check marks of many rows at once: states[row] for every row (sizes must match).
    void setCheckStates(const std::vector<bool> &states);

    const Row &row(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    QString path(int row) const { return this->row(row).path; }
    QString sizeText(int row) const;
    bool isChecked(int row) const { return this->row(row).checked; }
    const FileIdentity &identity(int row) const { return this->row(row).identity; }
    // Rows of one group of identical files share a number; it survives removals.
    int groupOf(int row) const { return static_cast<int>(this->row(row).group); }
    // Group numbers run from 1 to this.
    int groupCount() const { return static_cast<int>(m_groupCount); }
    // The first row of row's group, and one past its last row.
    std::pair<int, int> groupRange(int row) const;
    std::vector<int> checkedRows() const;

    // Which files are protected; marks every row anew. A protected row's box cannot be checked.
    void setProtection(ProtectedFiles protection);
    const ProtectedFiles &protection() const { return m_protection; }
    bool isProtected(int row) const { return this->row(row).isProtected; }

    // Removes, in one pass, every row the predicate picks; RowColour stays as it is.
    // Returns the rows removed, in list order.
    std::vector<Row> takeRowsWhere(const std::function<bool(int row)> &pick);
    int removeRowsWhere(const std::function<bool(int row)> &pick)
    {
        return static_cast<int>(takeRowsWhere(pick).size());
    }
    // Puts rows back where their group and collection order place them.
    void restoreRows(std::vector<Row> rows);

signals:
    // Every row went: a new search begins.
    void cleared();

private:
    void announce(int first, int last, const QList<int> &roles);
    void scheduleShow();

    std::vector<Row> m_rows;
    int m_shown = 0; // rows the views know of
    bool m_showQueued = false;
    std::uint32_t m_groupCount = 0;
    // RowColour: the group of the row first added at each position gives "light blue" or
    // "blue"; names written later cover it.
    std::vector<std::uint32_t> m_positionGroup;
    QString m_fill; // set for every position below m_fillCount by setAllRowColours
    std::size_t m_fillCount = 0;
    QHash<int, QString> m_written;
    bool m_checksLocked = false;
    ProtectedFiles m_protection;
};
