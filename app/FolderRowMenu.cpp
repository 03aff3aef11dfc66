// SPDX-License-Identifier: GPL-2.0-or-later
// The folder list's row menu: protecting a folder, and the files it alone holds.
#include "FolderListModel.h"
#include "FolderListView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

void FolderListView::createRowActions()
{
    m_rowMenu = new QMenu(this);
    m_rowMenu->setObjectName(QStringLiteral("folderRowMenu"));
    auto *protect = new QAction(QStringLiteral("Protect this folder"), this);
    protect->setObjectName(QStringLiteral("protectFolder"));
    protect->setCheckable(true);
    protect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    auto *unique = new QAction(QStringLiteral("Files here with no copy in the other folders"), this);
    unique->setObjectName(QStringLiteral("uniqueFiles"));
    unique->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    for (QAction *act : {protect, unique}) {
        act->setShortcutContext(Qt::WidgetShortcut);
        act->setShortcutVisibleInContextMenu(true);
        addAction(act);
        m_rowMenu->addAction(act);
    }
    // The key acts on the current row; the menu's check mark shows that row's state.
    connect(protect, &QAction::triggered, this, [this] {
        const int row = currentIndex().isValid() ? currentIndex().row() : -1;
        m_model.setProtected(row, !m_model.isProtected(row));
    });
    connect(unique, &QAction::triggered, this, [this] {
        if (currentIndex().isValid())
            emit uniqueFilesRequested(currentIndex().row());
    });
}

QMenu *FolderListView::rowMenuFor(int row)
{
    if (row < 0 || row >= m_model.rowCount())
        return nullptr;
    setCurrentIndex(m_model.index(row, 0));
    for (QAction *act : m_rowMenu->actions())
        if (act->objectName() == QLatin1String("protectFolder"))
            act->setChecked(m_model.isProtected(row));
    return m_rowMenu;
}

void FolderListView::contextMenuEvent(QContextMenuEvent *event)
{
    if (QMenu *menu = rowMenuFor(indexAt(event->pos()).row()))
        menu->popup(event->globalPos());
}
