// SPDX-License-Identifier: GPL-2.0-or-later
#include "UniqueFilesWindow.h"

#include "CandidateTable.h"
#include "Desktop.h"
#include "MessageBoxes.h"
#include "RecyclingBin.h"
#include "UniqueFiles.h"
#include "UserLocale.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSaveFile>
#include <QVBoxLayout>

void UniqueFilesModel::setFiles(const CandidateTable &table, const UniqueFiles &files)
{
    beginResetModel();
    m_folders.clear();
    m_folderOf.clear();
    m_names.clear();
    m_nameEnds.clear();
    std::vector<std::int64_t> folderAt(table.folderCount(), -1);
    std::size_t bytes = 0;
    for (const auto *list : {&files.files, &files.unreadable})
        for (const std::uint32_t k : *list)
            bytes += static_cast<std::size_t>(table.nameBytes(k).size());
    m_names.reserve(static_cast<qsizetype>(bytes));
    m_folderOf.reserve(files.files.size() + files.unreadable.size());
    m_nameEnds.reserve(files.files.size() + files.unreadable.size());
    for (const auto *list : {&files.files, &files.unreadable}) {
        for (const std::uint32_t k : *list) {
            std::int64_t &folder = folderAt[table.file(k).folder];
            if (folder < 0) {
                folder = static_cast<std::int64_t>(m_folders.size());
                m_folders.push_back(table.folderBytes(k));
            }
            m_folderOf.push_back(static_cast<std::uint32_t>(folder));
            m_names.append(table.nameBytes(k));
            m_nameEnds.push_back(static_cast<std::uint64_t>(m_names.size()));
        }
    }
    m_readable = static_cast<int>(files.files.size());
    endResetModel();
}

int UniqueFilesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_nameEnds.size());
}

QByteArray UniqueFilesModel::pathBytes(int row) const
{
    const auto at = static_cast<std::size_t>(row);
    const std::uint64_t begin = at == 0 ? 0 : m_nameEnds[at - 1];
    return QByteArray(m_folders[m_folderOf[at]])
        .append(QByteArrayView(m_names).sliced(static_cast<qsizetype>(begin),
                                               static_cast<qsizetype>(m_nameEnds[at] - begin)));
}

QString UniqueFilesModel::path(int row) const
{
    return row >= 0 && row < rowCount() ? QFile::decodeName(pathBytes(row)) : QString();
}

QVariant UniqueFilesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return unreadable(index.row()) ? path(index.row()) + QStringLiteral(" (could not be read)") : path(index.row());
    if (role == Qt::ToolTipRole && unreadable(index.row()))
        return QStringLiteral("This file could not be read, so whether it has a copy is not known.");
    return {};
}

UniqueFilesWindow::UniqueFilesWindow(Desktop &desktop, MessageBoxes &messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_desktop(desktop), m_messages(messages)
{
    setObjectName(QStringLiteral("UniqueFiles"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setWordWrap(true);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("files"));
    m_list->setModel(&m_model);
    m_list->setUniformItemSizes(true); // a million rows lay out without measuring each
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setAccessibleName(QStringLiteral("Files with no copy in the other folders"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_list);
    resize(640, 420);

    m_menu = new QMenu(this);
    const std::tuple<const char *, const char *, QKeySequence> entries[] = {
        {"open", "Open", QKeySequence(Qt::Key_Return)},
        {"reveal", "Reveal in File Manager", QKeySequence(Qt::CTRL | Qt::Key_R)},
        {"copyPath", "Copy Path", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
        {"saveList", "Save List as Text...", QKeySequence(Qt::CTRL | Qt::Key_S)}};
    for (const auto &[name, text, keys] : entries) {
        auto *act = new QAction(QString::fromLatin1(text), this);
        act->setObjectName(QLatin1String(name));
        act->setShortcut(keys);
        act->setShortcutContext(Qt::WindowShortcut);
        act->setShortcutVisibleInContextMenu(true);
        addAction(act);
        m_menu->addAction(act);
    }
    const auto onRow = [this](auto work) {
        return [this, work] {
            if (const int row = currentRow(); row >= 0)
                work(m_model.path(row));
        };
    };
    connect(action("open"), &QAction::triggered, this, onRow([this](const QString &path) { m_desktop.open(path); }));
    connect(action("reveal"), &QAction::triggered, this,
            onRow([this](const QString &path) { m_desktop.reveal(path); }));
    connect(action("copyPath"), &QAction::triggered, this,
            onRow([this](const QString &path) { m_desktop.copyText(path); }));
    connect(action("saveList"), &QAction::triggered, this, [this] {
        const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Save List as Text"), {},
                                                          QStringLiteral("Text files (*.txt)"));
        if (!file.isEmpty() && !saveList(file))
            m_messages.show(QStringLiteral("The list could not be saved as %1.").arg(file), MessageBoxes::Buttons::Ok,
                            {}, MessageBoxes::Icon::Warning);
    });
    connect(m_list, &QListView::activated, this, [this] { action("open")->trigger(); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &where) {
        if (QMenu *menu = contextMenuFor(m_list->indexAt(where).row()))
            menu->popup(m_list->viewport()->mapToGlobal(where));
    });
}

void UniqueFilesWindow::show(const QString &folder, const CandidateTable &table, const UniqueFiles &files)
{
    setWindowTitle(QStringLiteral("Files here with no copy in the other folders: ") + folder);
    m_model.setFiles(table, files);
    const qsizetype count = qsizetype(files.files.size());
    QString text = count == 0
        ? QStringLiteral("Every file here has a copy in the other folders")
        : QStringLiteral("%1 %2, %3, %4 no copy in the other folders")
              .arg(userLocale().toString(qlonglong(count)), QLatin1String(count == 1 ? "file" : "files"),
                   spaceText(files.bytes), QLatin1String(count == 1 ? "has" : "have"));
    if (!files.unreadable.empty())
        text += QStringLiteral("\n%1 could not be read; listed last, they may or may not have a copy.")
                    .arg(files.unreadable.size() == 1
                             ? QStringLiteral("1 file")
                             : userLocale().toString(qulonglong(files.unreadable.size())) + QStringLiteral(" files"));
    m_summary->setText(text);
    m_list->setCurrentIndex(m_model.index(0, 0));
    QWidget::show();
    raise();
    activateWindow();
}

QString UniqueFilesWindow::summary() const
{
    return m_summary->text();
}

QAction *UniqueFilesWindow::action(const char *name) const
{
    return findChild<QAction *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

QMenu *UniqueFilesWindow::contextMenuFor(int row)
{
    if (row < 0 || row >= m_model.rowCount())
        return nullptr;
    m_list->setCurrentIndex(m_model.index(row, 0));
    return m_menu;
}

int UniqueFilesWindow::currentRow() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? current.row() : -1;
}

bool UniqueFilesWindow::saveList(const QString &file) const
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (int row = 0; row < m_model.rowCount(); ++row)
        if (!m_model.unreadable(row))
            out.write(QFile::encodeName(m_model.path(row)) + '\n');
    return out.commit();
}
