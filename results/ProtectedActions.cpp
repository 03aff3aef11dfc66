// SPDX-License-Identifier: GPL-2.0-or-later
// The results window's commands for protected folders.
#include "Form4.h"

#include "SelectionHelpers.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

void Form4::addProtectedActions()
{
    m_menu->addSeparator();
    auto *checkOutside = new QAction(QStringLiteral("Check Every Copy outside the Protected Folders"), this);
    checkOutside->setObjectName(QStringLiteral("checkOutsideProtected"));
    checkOutside->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    auto *onlyProtected = new QAction(QStringLiteral("Show Only Groups with a Protected Copy"), this);
    onlyProtected->setObjectName(QStringLiteral("onlyProtectedGroups"));
    onlyProtected->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    onlyProtected->setCheckable(true);
    for (QAction *act : {checkOutside, onlyProtected}) {
        act->setShortcutContext(Qt::WindowShortcut);
        act->setShortcutVisibleInContextMenu(true);
        addAction(act);
        m_menu->addAction(act);
    }
    connect(checkOutside, &QAction::triggered, this, [this] {
        const ProtectedCheck done = checkOutsideProtected(*m_model);
        m_helperStatus = QStringLiteral("Checked the copies outside the protected folders in %1 group(s); "
                                        "%2 group(s) with no protected copy left as they were.")
                             .arg(done.groupsChecked)
                             .arg(done.groupsLeft);
        say(m_helperStatus);
    });
    connect(onlyProtected, &QAction::toggled, this, [this] { showProtectedGroupsOnly(); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { showProtectedGroupsOnly(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { showProtectedGroupsOnly(); });
}

void Form4::showProtectedGroupsOnly()
{
    const QAction *only = action("onlyProtectedGroups");
    const bool limit = only && only->isChecked();
    m_list->setUpdatesEnabled(false);
    for (int first = 0; first < m_model->rowCount(QModelIndex());) {
        const int end = m_model->groupRange(first).second;
        const bool hide = limit && !groupHasProtectedCopy(*m_model, first);
        for (int row = first; row < end; ++row)
            if (m_list->isRowHidden(row, {}) != hide)
                m_list->setRowHidden(row, {}, hide);
        first = end;
    }
    m_list->setUpdatesEnabled(true);
}
