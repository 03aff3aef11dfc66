#include "Form4.h"

#include "CursorFile.h"
#include "Desktop.h"
#include "FileSystem.h"
#include "Form2.h"
#include "MessageBoxes.h"
#include "Paths.h"
#include "PictureButton.h"
#include "RecyclingBin.h"
#include "ResultsModel.h"
#include "Screen.h"
#include "SearchHost.h"
#include "SelectionHelpers.h"
#include "Services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHash>
#include <QHeaderView>
#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSet>
#include <QTreeView>

namespace {
QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

struct HelperAction
{
    const char *name;
    const char *text;
    QKeySequence keys;
    bool needsRow;
};
} // namespace

Form4::Form4(Services &services, QWidget *mainWindow)
    : m_services(services), m_mainWindow(mainWindow), m_model(new ResultsModel(this))
{
    if (!services.desktop)
        m_ownDesktop = std::make_unique<SystemDesktop>();
    m_desktop = services.desktop ? services.desktop : m_ownDesktop.get();
    Form_Load();
    createActions();
}

Form4::~Form4() = default;

void Form4::setPreview(Form2 *preview)
{
    m_preview = preview;
    if (preview)
        if (QWidget *picture = preview->findChild<QWidget *>(QStringLiteral("Image1")))
            picture->setAccessibleName(QStringLiteral("Preview picture"));
}

void Form4::createActions()
{
    const HelperAction helpers[] = {
        {"open", "Open", QKeySequence(Qt::Key_Return), true},
        {"reveal", "Reveal in File Manager", QKeySequence(Qt::CTRL | Qt::Key_R), true},
        {"copyPath", "Copy Path", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), true},
        {nullptr, nullptr, {}, false},
        {"keepFirst", "Check All but One, Keep the First Listed", QKeySequence(Qt::CTRL | Qt::Key_1), false},
        {"keepOldest", "Check All but One, Keep the Oldest", QKeySequence(Qt::CTRL | Qt::Key_2), false},
        {"keepNewest", "Check All but One, Keep the Newest", QKeySequence(Qt::CTRL | Qt::Key_3), false},
        {"keepShortest", "Check All but One, Keep the Shortest Path", QKeySequence(Qt::CTRL | Qt::Key_4), false},
        {"checkInFolder", "Check Every Copy in This Folder", QKeySequence(Qt::CTRL | Qt::Key_I), true},
        {"checkOutsideFolder", "Check Every Copy outside This Folder", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
         true},
        {"uncheckGroup", "Uncheck This Group", QKeySequence(Qt::CTRL | Qt::Key_U), true},
        {"nextCheckedGroup", "Go to the Next Fully Checked Group", QKeySequence(Qt::CTRL | Qt::Key_G), false},
        {nullptr, nullptr, {}, false},
        {"undo", "Undo Send to Recycling", QKeySequence(Qt::CTRL | Qt::Key_Z), false},
    };
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("rowMenu"));
    m_menu->setToolTipsVisible(true);
    for (const HelperAction &helper : helpers) {
        if (!helper.name) {
            m_menu->addSeparator();
            continue;
        }
        auto *act = new QAction(QString::fromLatin1(helper.text), this);
        act->setObjectName(QLatin1String(helper.name));
        act->setShortcut(helper.keys);
        // Shortcuts act while the results window is the active one; the menu shows them.
        act->setShortcutContext(Qt::WindowShortcut);
        act->setShortcutVisibleInContextMenu(true);
        addAction(act);
        m_menu->addAction(act);
        if (helper.needsRow)
            m_rowActions.push_back(act);
    }
    const auto onCurrent = [this](auto work) {
        return [this, work] {
            if (const int row = currentRow(); row >= 0)
                work(row);
        };
    };
    const auto folderOf = [this](int row) { return FolderOfPath(m_model->path(row)); };
    connect(action("open"), &QAction::triggered, this, onCurrent([this](int row) { openRow(row); }));
    connect(action("reveal"), &QAction::triggered, this, onCurrent([this](int row) {
                const QString path = m_model->path(row);
                if (!m_desktop->reveal(path))
                    m_services.messages.show(
                        QStringLiteral("The file manager could not be asked to show %1.").arg(path),
                        MessageBoxes::Buttons::Ok, {}, MessageBoxes::Icon::Warning);
            }));
    connect(action("copyPath"), &QAction::triggered, this,
            onCurrent([this](int row) { m_desktop->copyText(m_model->path(row)); }));
    const std::pair<const char *, KeepRule> keeps[] = {{"keepFirst", KeepRule::FirstListed},
                                                       {"keepOldest", KeepRule::Oldest},
                                                       {"keepNewest", KeepRule::Newest},
                                                       {"keepShortest", KeepRule::ShortestPath}};
    for (const auto &[name, rule] : keeps)
        connect(action(name), &QAction::triggered, this, [this, rule = rule] { checkAllButOne(*m_model, rule); });
    connect(action("checkInFolder"), &QAction::triggered, this,
            onCurrent([this, folderOf](int row) { checkByFolder(*m_model, folderOf(row), FolderSide::Inside); }));
    connect(action("checkOutsideFolder"), &QAction::triggered, this,
            onCurrent([this, folderOf](int row) { checkByFolder(*m_model, folderOf(row), FolderSide::Outside); }));
    connect(action("uncheckGroup"), &QAction::triggered, this,
            onCurrent([this](int row) { uncheckGroup(*m_model, row); }));
    connect(action("nextCheckedGroup"), &QAction::triggered, this, [this] {
        const int next = nextFullyCheckedGroup(*m_model, currentRow());
        if (next < 0)
            return;
        const QModelIndex index = m_model->index(next, 0);
        m_list->setCurrentIndex(index);
        m_list->scrollTo(index, QAbstractItemView::PositionAtTop);
    });
    connect(action("undo"), &QAction::triggered, this, &Form4::undoLastSend);
    action("undo")->setEnabled(false);

    // The picture buttons' keys.
    auto *send = new QAction(this);
    send->setShortcut(QKeySequence(Qt::Key_Delete));
    connect(send, &QAction::triggered, m_check1, &QAbstractButton::click);
    auto *back = new QAction(this);
    back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    connect(back, &QAction::triggered, m_check2, &QAbstractButton::click);
    addActions({send, back});
}

QAction *Form4::action(const char *name) const
{
    return findChild<QAction *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

int Form4::currentRow() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() && current.row() < m_model->rows() ? current.row() : -1;
}

QMenu *Form4::contextMenuFor(int row)
{
    // The folder helpers name the folder they would act on.
    QString folderName = QStringLiteral("This Folder");
    if (row >= 0 && row < m_model->rowCount(QModelIndex())) {
        m_list->setCurrentIndex(m_model->index(row, 0));
        const QString folder = FolderOfPath(m_model->path(row));
        const QString name = NameOfPath(folder.size() > 1 ? folder.chopped(1) : folder);
        folderName = QStringLiteral("\u201c%1\u201d").arg(name.isEmpty() ? folder : name);
        action("checkInFolder")->setToolTip(folder);
        action("checkOutsideFolder")->setToolTip(folder);
    }
    action("checkInFolder")->setText(QStringLiteral("Check Every Copy in %1").arg(folderName));
    action("checkOutsideFolder")->setText(QStringLiteral("Check Every Copy outside %1").arg(folderName));
    for (QAction *act : m_rowActions)
        act->setEnabled(row >= 0 && row < m_model->rowCount(QModelIndex()));
    return m_menu;
}

void Form4::showRowMenu(const QPoint &where)
{
    const QModelIndex index = m_list->indexAt(where);
    QMenu *menu = contextMenuFor(index.isValid() ? index.row() : -1);
    menu->exec(m_list->viewport()->mapToGlobal(where));
    // Row actions stay reachable by their keys.
    for (QAction *act : m_rowActions)
        act->setEnabled(true);
}

void Form4::openRow(int row)
{
    if (row < 0 || row >= m_model->rows())
        return;
    if (!m_desktop->open(m_model->path(row)))
        m_services.messages.show(QStringLiteral("No program could be asked to open %1.").arg(m_model->path(row)),
                                 MessageBoxes::Buttons::Ok, {}, MessageBoxes::Icon::Warning);
}

void Form4::Form_Load()
{
    setWindowTitle(productCaption());
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    resize(twipsToPixels(11880), twipsToPixels(8520));

    m_check2 = new PictureButton(QStringLiteral(":/results/art/back-to-main.svg"), this);
    m_check2->setObjectName(QStringLiteral("Check2"));
    m_check2->setAccessibleName(QStringLiteral("Back to main"));
    m_check2->setToolTip(QStringLiteral("Back to the main window. (Alt+Left)"));
    m_check2->setGeometry(twipsRect(120, 120, 3015, 1095));
    m_check1 = new PictureButton(QStringLiteral(":/results/art/send-to-recycling.svg"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setAccessibleName(QStringLiteral("Send to recycling"));
    m_check1->setToolTip(QStringLiteral("Delete checked files. (Delete)"));
    m_check1->setGeometry(twipsRect(3240, 120, 3015, 1095));
    m_check3 = new PictureButton(QStringLiteral(":/results/art/uncheck-all.svg"), this);
    m_check3->setObjectName(QStringLiteral("Check3"));
    m_check3->setAccessibleName(QStringLiteral("Uncheck all"));
    m_check3->setToolTip(QStringLiteral("Clear out all checkmarks."));
    m_check3->setGeometry(twipsRect(6360, 120, 3015, 1095));
    connect(m_check1, &QAbstractButton::clicked, this, &Form4::Check1_Click);
    connect(m_check2, &QAbstractButton::clicked, this, &Form4::Check2_Click);
    connect(m_check3, &QAbstractButton::clicked, this, &Form4::Check3_Click);

    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setAccessibleName(QStringLiteral("Duplicate files"));
    m_list->setAccessibleDescription(
        QStringLiteral("Groups of identical files; check the copies to move to the trash."));
    m_list->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSortingEnabled(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setModel(m_model);
    m_list->header()->setSectionsClickable(false);
    m_list->header()->setSectionsMovable(false);
    // Column widths follow the window by their own rule, which may hide "Size" (width 0).
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(0);
    m_list->move(twipsToPixels(120), twipsToPixels(1320));
    connect(m_list, &QAbstractItemView::clicked, this, &Form4::ListView1_Click);
    // A keyboard move is a click for a keyboard user; a mouse press waits for its click.
    m_list->viewport()->installEventFilter(this);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!m_mouseDown)
            ListView1_Click();
    });
    connect(m_list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { openRow(index.row()); });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &Form4::showRowMenu);
    connect(m_model, &ResultsModel::cleared, this, [this] {
        m_lastSend = {};
        action("undo")->setEnabled(false);
    });

    // The window's background shows the arrow; the list and the buttons the hand, if there is one.
    const QString pointerFile = m_services.programFolder + QStringLiteral("/HAND-M.CUR");
    if (PathExists(pointerFile))
        m_customPointer = loadCursorFile(pointerFile);
    const QCursor custom = m_customPointer.value_or(QCursor(Qt::ArrowCursor));
    setCursor(Qt::ArrowCursor);
    for (QWidget *w :
         {static_cast<QWidget *>(m_list), m_list->viewport(), static_cast<QWidget *>(m_list->header()),
          static_cast<QWidget *>(m_check1), static_cast<QWidget *>(m_check2), static_cast<QWidget *>(m_check3)})
        w->setCursor(custom);

    Form_Resize();
}

void Form4::Form_Resize()
{
    // Sizes come from the outer size, frame and caption included, in twips; a size that
    // would be negative is not applied.
    const QRect outer = frameGeometry();
    const int listWidth = pixelsToTwips(outer.width()) - 360;
    const int listHeight = pixelsToTwips(outer.height()) - 1900;
    QSize size = m_list->size();
    if (listWidth >= 0)
        size.setWidth(twipsToPixels(listWidth));
    if (listHeight >= 0)
        size.setHeight(twipsToPixels(listHeight));
    m_list->resize(size);

    const float width = static_cast<float>(pixelsToTwips(m_list->width()));
    const float filename = width * (95.0f / 90.0f) - 3700.0f;
    const float sizeColumn = width * (15.0f / 90.0f) - 3700.0f;
    if (filename >= 0)
        m_list->setColumnWidth(0, twipsToPixels(filename));
    if (sizeColumn >= 0)
        m_list->setColumnWidth(1, twipsToPixels(sizeColumn));
}

void Form4::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form4::moveEvent(QMoveEvent *event)
{
    // A window manager adds the frame after the window appears; the outer size changes then.
    QWidget::moveEvent(event);
    Form_Resize();
}

void Form4::showEvent(QShowEvent *event)
{
    m_model->showRows();
    QWidget::showEvent(event);
    Form_Resize();
}

void Form4::closeEvent(QCloseEvent *event)
{
    // Closing the results window ends the program, with the main and preview windows.
    event->accept();
    if (m_preview)
        m_preview->close();
    if (m_mainWindow)
        m_mainWindow->close();
    QCoreApplication::quit();
}

bool Form4::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            m_mouseDown = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            m_mouseDown = false;
    }
    return QWidget::eventFilter(watched, event);
}

void Form4::ListView1_Click()
{
    if (!m_preview)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedRows(0);
    if (selected.isEmpty())
        return;
    m_preview->previewFile(m_model->path(selected.first().row()));
}

void Form4::Check1_Click()
{
    if (!m_check1->isChecked())
        return;
    m_check1->setChecked(false);
    deleteCheckedFiles();
}

void Form4::deleteCheckedFiles()
{
    const DeletePlan plan = planDeletion(*m_model);
    bool reported = false;
    TrashOutcome outcome;
    if (!plan.requests.empty() || !plan.held.empty()) {
        const auto answer = m_services.messages.show(confirmationText(plan), MessageBoxes::Buttons::OkCancel, {},
                                                     plan.wholeGroups > 0 ? MessageBoxes::Icon::Warning
                                                                          : MessageBoxes::Icon::Question);
        if (answer == MessageBoxes::Answer::Ok || answer == MessageBoxes::Answer::Yes) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            outcome = SendToRecycleBin(m_services.trash, *m_model, plan);
            QApplication::restoreOverrideCursor();
            std::vector<ResultsModel::Row> removed = RemoveCheckedRows(*m_model);
            // Undo puts back what this run moved; rows gone with a file moved earlier stay gone.
            LastSend last;
            QSet<QString> movedPaths;
            for (const MovedFile &moved : outcome.moved) {
                last.files.push_back({moved.path, moved.identity.device, moved.identity.inode});
                movedPaths.insert(moved.path);
            }
            for (ResultsModel::Row &row : removed) {
                if (movedPaths.contains(row.path)) {
                    row.checked = false;
                    last.rows.push_back(std::move(row));
                }
            }
            if (!last.files.empty()) {
                m_lastSend = std::move(last);
                action("undo")->setEnabled(true);
            }
            reported = true;
        }
    }

    // Groups are not worked out again: every remaining row goes white.
    m_model->setAllRowColours(QStringLiteral("white"));
    m_list->viewport()->update();

    if (reported)
        m_services.messages.show(reportText(outcome), MessageBoxes::Buttons::Ok, {},
                                 outcome.failed.empty() ? MessageBoxes::Icon::Information
                                                        : MessageBoxes::Icon::Warning);
}

void Form4::undoLastSend()
{
    if (m_lastSend.files.empty())
        return;
    LastSend last = std::move(m_lastSend);
    m_lastSend = {};
    action("undo")->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<QString> results = m_services.trash.restore(last.files);
    QApplication::restoreOverrideCursor();

    QSet<QString> back;
    QStringList failures;
    for (std::size_t i = 0; i < last.files.size(); ++i) {
        const QString why = i < results.size() ? results[i] : QStringLiteral("the trash did not answer");
        if (why.isEmpty())
            back.insert(last.files[i].originalPath);
        else
            failures << last.files[i].originalPath + QStringLiteral(": ") + why;
    }
    std::vector<ResultsModel::Row> rows;
    for (ResultsModel::Row &row : last.rows) {
        if (!back.contains(row.path))
            continue;
        // The moves out and back changed the file's change time, and nothing else.
        if (const FileIdentity now = identityOf(row.path); now.sameButChangeTime(row.identity))
            row.identity = now;
        rows.push_back(std::move(row));
    }
    m_model->restoreRows(std::move(rows));
    m_model->setAllRowColours(QStringLiteral("white"));

    QString text = QStringLiteral("%1 put back where %2.")
                       .arg(plural(back.size(), "file was", "files were"),
                            QLatin1String(back.size() == 1 ? "it was" : "they were"));
    if (!failures.isEmpty()) {
        text += QStringLiteral("\n\n%1 not put back:\n\n").arg(plural(failures.size(), "file was", "files were"));
        const QStringList shown = failures.mid(0, 15);
        text += shown.join(QLatin1Char('\n'));
        if (failures.size() > shown.size())
            text += QStringLiteral("\n... and %1 more.").arg(failures.size() - shown.size());
    }
    m_services.messages.show(text, MessageBoxes::Buttons::Ok, {},
                             failures.isEmpty() ? MessageBoxes::Icon::Information : MessageBoxes::Icon::Warning);
}

void Form4::Check2_Click()
{
    if (!m_check2->isChecked())
        return;
    m_check2->setChecked(false);
    if (!m_mainWindow)
        return;
    if (isMaximized()) {
        m_mainWindow->setWindowState((m_mainWindow->windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen))
                                     | Qt::WindowMaximized);
        m_mainWindow->show();
        hide();
        return;
    }
    const QRect outer = frameGeometry();
    // Read from this window, which is framed now; a window just shown again may not know
    // its frame yet. Both windows carry the same frame.
    const QMargins frame(geometry().left() - outer.left(), geometry().top() - outer.top(),
                         outer.right() - geometry().right(), outer.bottom() - geometry().bottom());
    m_mainWindow->setWindowState(m_mainWindow->windowState()
                                 & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    m_mainWindow->show();
    hide();
    // The inside is placed: where a move() puts a window not yet framed depends on the platform.
    m_mainWindow->setGeometry(outer.marginsRemoved(frame));
}

void Form4::Check3_Click()
{
    if (!m_check3->isChecked())
        return;
    m_check3->setChecked(false);
    m_model->uncheckAll();
}
