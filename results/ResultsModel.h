#pragma once

#include "FileIdentity.h"
#include "GroupColours.h"
#include "ResultsSink.h"

#include <QAbstractTableModel>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// The results list ListView1: one row per file (path, size text, check mark) and the
// row-colour table RowColour, looked up by a row's current position at every paint.
// RowColour belongs to positions, not to rows: removing a row leaves it as it is.
class ResultsModel final : public QAbstractTableModel, public ResultsSink
{
    Q_OBJECT

public:
    explicit ResultsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A check change from the view applies to every row with the same text.
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    bool removeRows(int row, int count, const QModelIndex &parent = {}) override;

    // ResultsSink. addRow also notes which file the path names now, so that a file
    // changed or replaced later is never taken for the one the user saw.
    void clearRows() override;
    void addRow(const ResultRow &row) override;
    // A row with its texts given; the identity is taken now unless one is given.
    void addRow(const QString &path, const QString &sizeText, const QString &colourName,
                const FileIdentity &identity = {});
    void endGroup() override;
    std::size_t rowCount() const override { return m_rows.size(); }
    int rows() const { return static_cast<int>(m_rows.size()); }

    // The colours of the row at this position, or none for the list's own colours.
    std::optional<RowColours> ColourForRow(int position) const;
    QString rowColour(int position) const;
    void setRowColour(int position, const QString &name);
    // Gives every position, and at least every current row, this colour name; then repaints.
    void setAllRowColours(const QString &name);

    // Sets the check mark of every row whose text equals text exactly.
    void SetCheckedByText(const QString &text, bool checked);
    void uncheckAll();

    QString path(int row) const { return m_rows[static_cast<std::size_t>(row)].path; }
    QString sizeText(int row) const { return m_rows[static_cast<std::size_t>(row)].sizeText; }
    bool isChecked(int row) const { return m_rows[static_cast<std::size_t>(row)].checked; }
    const FileIdentity &identity(int row) const { return m_rows[static_cast<std::size_t>(row)].identity; }
    // Rows of one group of identical files share a number; it survives removals.
    int groupOf(int row) const { return m_rows[static_cast<std::size_t>(row)].group; }
    // Group numbers run from 1 to this.
    int groupCount() const { return m_group; }
    std::vector<int> checkedRows() const;

    // Removes, in one pass, every row the predicate picks; RowColour stays as it is.
    int removeRowsWhere(const std::function<bool(int row)> &pick);

private:
    struct Row
    {
        QString path;
        QString sizeText;
        FileIdentity identity;
        int group = 0;
        bool checked = false;
    };
    void eraseRows(int first, int count);

    std::vector<Row> m_rows;
    std::vector<QString> m_rowColour;
    int m_group = 0;
    bool m_groupEnded = true;
    QString m_lastColour;
};
