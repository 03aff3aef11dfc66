#include "FolderListView.h"

#include "FolderListModel.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>

namespace {
const QString UriList = QStringLiteral("text/uri-list");

// The list only ever copies paths out of a drop. Answering "move" would let the file
// manager delete the originals once the drop is done.
void acceptAsCopy(QDropEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
} // namespace

FolderListView::FolderListView(FolderListModel &model, QWidget *parent) : QTreeView(parent), m_model(model)
{
    setModel(&model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(32, 32));
    setTextElideMode(Qt::ElideMiddle);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setToolTip(FolderListModel::hint());
    createRowActions();
}

void FolderListView::removeSelectedRows()
{
    // Walk from the last row up so the rows still to visit keep their numbers; runs of
    // neighbouring rows go in one step.
    int row = m_model.rowCount() - 1;
    while (row >= 0) {
        if (!selectionModel()->isRowSelected(row, {})) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && selectionModel()->isRowSelected(first - 1, {}))
            --first;
        m_model.removeRows(first, row - first + 1);
        row = first - 1;
    }
}

void FolderListView::selectEveryRow()
{
    const int rows = m_model.rowCount();
    const int columns = m_model.columnCount();
    if (rows == 0 || columns == 0)
        return;
    const QItemSelection all(m_model.index(0, 0), m_model.index(rows - 1, columns - 1));
    selectionModel()->select(all, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void FolderListView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (event->key() == Qt::Key_Delete) {
        removeSelectedRows();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_A && held == Qt::ControlModifier) {
        selectEveryRow();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FolderListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(UriList))
        acceptAsCopy(event);
    else
        event->ignore();
}

void FolderListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasFormat(UriList))
        acceptAsCopy(event);
    else
        event->ignore();
}

void FolderListView::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void FolderListView::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasFormat(UriList)) {
        event->ignore();
        return;
    }
    acceptAsCopy(event);
    emit dropped(event->mimeData());
}
