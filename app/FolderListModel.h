#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

// The rows of the folder list: one folder path per row, in the order they were added,
// each with the folder icon and the list's hint.
class FolderListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit FolderListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool removeRows(int row, int count, const QModelIndex &parent = {}) override;

    void addColumn(const QString &heading);
    void appendRow(const QString &text);
    void clear();
    QString rowText(int row) const { return m_rows.at(row); }
    const QStringList &rows() const { return m_rows; }

    // A protected row's files are never checked or moved in the results; lasts while the row does.
    bool isProtected(int row) const { return m_protected.value(row); }
    void setProtected(int row, bool on);
    QStringList protectedRows() const;

    static QString hint();

private:
    QStringList m_columns;
    QStringList m_rows;
    QIcon m_icon;
    QList<bool> m_protected; // parallel to m_rows
    QIcon m_protectedIcon;
};
