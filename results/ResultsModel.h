#pragma once

#include "ResultsSink.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

// The results list ListView1: one row per file (path, size text, check mark) and the
// row-colour table RowColour, looked up by a row's current position at every paint.
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
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    void clearRows() override;
    void addRow(const QString &path, const QString &sizeText, const QString &colourName) override;
    std::size_t rowCount() const override { return m_rows.size(); }

private:
    struct Row
    {
        QString path;
        QString sizeText;
        bool checked = false;
    };
    std::vector<Row> m_rows;
    std::vector<QString> m_rowColour;
};
