// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QWidget>

#include <cstdint>
#include <vector>

class CandidateTable;
class Desktop;
class MessageBoxes;
class QAction;
class QLabel;
class QListView;
class QMenu;
struct UniqueFiles;

// The files a folder alone holds, as paths kept in one block: a million rows are copied out of
// the search in one pass and their texts are made only for the rows shown.
class UniqueFilesModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;
    void setFiles(const CandidateTable &table, const UniqueFiles &files);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QString path(int row) const;
    bool unreadable(int row) const { return row >= m_readable; }

private:
    QByteArray pathBytes(int row) const;

    std::vector<QByteArray> m_folders;
    std::vector<std::uint32_t> m_folderOf;
    QByteArray m_names;
    std::vector<std::uint64_t> m_nameEnds;
    int m_readable = 0; // rows below this have no copy; those from it could not be read
};

// "Files here with no copy in the other folders": the list, its summary and what can be done
// with a file in it (never a move to the trash).
class UniqueFilesWindow final : public QWidget
{
    Q_OBJECT

public:
    UniqueFilesWindow(Desktop &desktop, MessageBoxes &messages, QWidget *parent = nullptr);

    void show(const QString &folder, const CandidateTable &table, const UniqueFiles &files);
    QString summary() const;
    const UniqueFilesModel &model() const { return m_model; }
    QListView *list() const { return m_list; }
    // By object name: "open", "reveal", "copyPath", "saveList".
    QAction *action(const char *name) const;
    QMenu *contextMenuFor(int row);
    // One path a line, as the file system's bytes; false when it could not be written.
    bool saveList(const QString &file) const;

private:
    int currentRow() const;

    Desktop &m_desktop;
    MessageBoxes &m_messages;
    UniqueFilesModel m_model;
    QLabel *m_summary = nullptr;
    QListView *m_list = nullptr;
    QMenu *m_menu = nullptr;
};
