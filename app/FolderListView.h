#pragma once

#include <QTreeView>

class FolderListModel;
class QMenu;
class QMimeData;

// The folder list's view: several rows selectable at once, Delete removes the selected
// rows, Ctrl+A selects them all, and files or folders dropped from a file manager are
// handed on as they arrive.
class FolderListView final : public QTreeView
{
    Q_OBJECT

public:
    explicit FolderListView(FolderListModel &model, QWidget *parent = nullptr);

    void removeSelectedRows();
    void selectEveryRow();
    // The row's menu (FolderRowMenu.cpp), as it would open over it; none over no row.
    QMenu *rowMenuFor(int row);

signals:
    void dropped(const QMimeData *data);
    void uniqueFilesRequested(int row);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createRowActions();

    FolderListModel &m_model;
    QMenu *m_rowMenu = nullptr;
};
