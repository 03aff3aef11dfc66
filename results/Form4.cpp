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
#include "ResultsRowDelegate.h"
#include "Screen.h"
#include "SearchHost.h"
#include "SelectionHelpers.h"
#include "Services.h"
#include "WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHash>
#include <QHeaderView>
#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QMenu>
#include <QSet>
#include <QTreeView>
#include <QWindow>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
// Moving files is background work: when cores are short, the window's thread goes first.
void yieldToTheWindow()
{
#if defined(Q_OS_LINUX)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5); // this thread only, on Linux
#endif
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
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
    createProgress();
}

Form4::~Form4()
{
    // The files being moved stay safe: the move ends after the file it is at.
    if (m_worker) {
        if (m_send)
            m_send->stop();
        if (m_undo)
            m_undo->stop();
        m_worker->wait();
        delete m_worker;
    }
}

void Form4::setPreview(Form2 *preview)
{
    m_preview = preview;
    if (!preview)
        return;
    if (QWidget *picture = preview->findChild<QWidget *>(QStringLiteral("Image1")))
        picture->setAccessibleName(QStringLiteral("Preview picture"));
    // A tool window of this one: the window manager keeps it in front of the results window,
    // maximised or clicked, and the keyboard stays with the list.
    preview->setWindowFlags(Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    preview->setAttribute(Qt::WA_ShowWithoutActivating);
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
    // A helper that finds nothing more to check says so, rather than seeming not to work.
    const auto byFolder = [this, folderOf, onCurrent](FolderSide side, const char *where) {
        return onCurrent([this, folderOf, side, where](int row) {
            const QString folder = folderOf(row);
            const std::vector<int> before = m_model->checkedRows();
            checkByFolder(*m_model, folder, side);
            say(m_model->checkedRows() != before
                    ? QString()
                    : QStringLiteral("Nothing changed: no other copy %1 %2 can be checked.")
                          .arg(QLatin1String(where), elidedFolder(folder)));
        });
    };
    connect(action("checkInFolder"), &QAction::triggered, this, byFolder(FolderSide::Inside, "in"));
    connect(action("checkOutsideFolder"), &QAction::triggered, this, byFolder(FolderSide::Outside, "outside"));
    connect(action("uncheckGroup"), &QAction::triggered, this,
            onCurrent([this](int row) { uncheckGroup(*m_model, row); }));
    connect(action("nextCheckedGroup"), &QAction::triggered, this, [this] {
        const int next = nextFullyCheckedGroup(*m_model, currentRow());
        say(next < 0 ? QStringLiteral("No group has every copy checked.") : QString());
        if (next < 0)
            return;
        const QModelIndex index = m_model->index(next, 0);
        m_list->setCurrentIndex(index);
        m_list->scrollTo(index, QAbstractItemView::PositionAtTop);
    });
    connect(action("undo"), &QAction::triggered, this, &Form4::undoLastSend);
    action("undo")->setEnabled(false);
    addProtectedActions();

    // Shift+F10 opens the context menu as the Menu key does, over the current row.
    auto *menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    connect(menuKey, &QAction::triggered, this, [this] {
        const QModelIndex current = m_list->currentIndex();
        showRowMenu(current.isValid() ? m_list->visualRect(current).center() : QPoint(0, 0));
    });
    addAction(menuKey);

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
        folderName = QStringLiteral("\u201c%1\u201d").arg(elidedFolder(folder));
        action("checkInFolder")->setToolTip(folder);
        action("checkOutsideFolder")->setToolTip(folder);
    }
    action("checkInFolder")->setText(QStringLiteral("Check Every Copy in %1").arg(folderName));
    action("checkOutsideFolder")->setText(QStringLiteral("Check Every Copy outside %1").arg(folderName));
    for (QAction *act : m_rowActions)
        act->setEnabled(row >= 0 && row < m_model->rowCount(QModelIndex()));
    return m_menu;
}

QString Form4::elidedFolder(const QString &folder) const
{
    return fontMetrics().elidedText(folder, Qt::ElideMiddle, fontMetrics().averageCharWidth() * 50);
}

void Form4::say(const QString &text)
{
    m_status->setText(text);
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
    m_framed = new FramedWindow(*this);
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
    m_check1->setToolTip(QStringLiteral("Move checked files to the trash. (Delete)"));
    m_check1->setGeometry(twipsRect(3240, 120, 3015, 1095));
    m_check3 = new PictureButton(QStringLiteral(":/results/art/uncheck-all.svg"), this);
    m_check3->setObjectName(QStringLiteral("Check3"));
    m_check3->setAccessibleName(QStringLiteral("Uncheck all"));
    m_check3->setToolTip(QStringLiteral("Clear out all checkmarks."));
    m_check3->setGeometry(twipsRect(6360, 120, 3015, 1095));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAccessibleName(QStringLiteral("Status"));
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_status->setGeometry(twipsRect(9480, 120, 2280, 1095));
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
    m_list->setTextElideMode(Qt::ElideMiddle); // a long path keeps its file name in view
    m_list->setSortingEnabled(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new ResultsRowDelegate(m_list));
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
        say({});
        m_lastSend.reset();
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
    const QRect outer = m_framed->outer();
    const int listWidth = pixelsToTwips(outer.width()) - 360;
    const int listHeight = pixelsToTwips(outer.height()) - 1900;
    QSize size = m_list->size();
    if (listWidth >= 0)
        size.setWidth(twipsToPixels(listWidth));
    if (listHeight >= 0)
        size.setHeight(twipsToPixels(listHeight));
    m_list->resize(size);
    m_status->resize(std::max(0, width() - m_status->x() - twipsToPixels(120)), m_status->height());

    const float width = static_cast<float>(pixelsToTwips(m_list->width()));
    const float filename = width * (95.0f / 90.0f) - 3700.0f;
    const float sizeColumn = width * (15.0f / 90.0f) - 3700.0f;
    if (filename >= 0)
        m_list->setColumnWidth(0, twipsToPixels(filename));
    // "Size" is never made narrower than at creation: below about 31,000 twips of list the
    // rule would cut its texts, and a width left from a maximised window would stay cut.
    m_list->setColumnWidth(
        1, std::max(sizeColumn >= 0 ? twipsToPixels(sizeColumn) : 0, m_list->header()->defaultSectionSize()));
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
    // Told before the preview is first shown; this window's handle is made only now, as a
    // window made earlier would be placed by its inside, not its frame.
    if (m_preview && !m_preview->isVisible() && windowHandle()) {
        m_preview->winId();
        m_preview->windowHandle()->setTransientParent(windowHandle());
    }
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
    deleteCheckedFiles();
}

void Form4::deleteCheckedFiles()
{
    if (busy())
        return;
    DeletePlan plan = planDeletion(*m_model);
    const ResultsModel::ColourState colours = m_model->colourState();
    const auto whiten = [this] {
        // Groups are not worked out again: every remaining row goes white.
        m_model->setAllRowColours(QStringLiteral("white"));
        m_list->viewport()->update();
    };
    if (plan.requests.empty()) {
        whiten();
        if (!plan.held.empty())
            m_services.messages.show(nothingToMoveText(plan), MessageBoxes::Buttons::Ok, {},
                                     MessageBoxes::Icon::Warning);
        return;
    }
    const auto answer = m_services.messages.show(confirmationText(plan), MessageBoxes::Buttons::OkCancel, {},
                                                 plan.wholeGroups > 0 ? MessageBoxes::Icon::Warning
                                                                      : MessageBoxes::Icon::Question);
    whiten();
    if (answer != MessageBoxes::Answer::Ok && answer != MessageBoxes::Answer::Yes)
        return;
    m_sending = {};
    m_sending.colours = colours;
    m_send = std::make_unique<TrashRun>(m_services.trash, std::move(plan));
    startTrashWork([run = m_send.get()] { run->SendToRecycleBin(); });
}

void Form4::undoLastSend()
{
    if (busy() || !m_lastSend)
        return;
    m_undo = std::make_unique<UndoRun>(m_services.trash, std::move(*m_lastSend));
    m_lastSend.reset();
    action("undo")->setEnabled(false);
    startTrashWork([run = m_undo.get()] { run->run(); });
}

void Form4::createProgress()
{
    // While files move, STOP stands where SEND TO RECYCLING was, and the count beside it.
    m_stop = new PictureButton(QStringLiteral(":/results/art/stop-moving.svg"), this);
    m_stop->setObjectName(QStringLiteral("stopMoving"));
    m_stop->setAccessibleName(QStringLiteral("Stop"));
    m_stop->setToolTip(QStringLiteral("Stop after the file being moved. (Esc)"));
    m_stop->setShortcut(QKeySequence(Qt::Key_Escape));
    m_stop->setGeometry(m_check1->geometry());
    m_stop->hide();
    connect(m_stop, &QAbstractButton::clicked, this, [this] {
        if (m_send)
            m_send->stop();
        if (m_undo)
            m_undo->stop();
        m_progressText->setText(QStringLiteral("Stopping after this file..."));
    });
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("moveProgress"));
    m_progress->setAccessibleName(QStringLiteral("Progress of the move"));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(twipsRect(9480, 240, 2280, 375));
    m_progress->hide();
    m_progressText = new QLabel(this);
    m_progressText->setObjectName(QStringLiteral("moveProgressText"));
    m_progressText->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
    m_progressText->setWordWrap(true);
    m_progressText->setGeometry(twipsRect(9480, 660, 2280, 555));
    m_progressText->hide();
    m_follow = new QTimer(this);
    m_follow->setInterval(100);
    connect(m_follow, &QTimer::timeout, this, [this] { followTrashWork(); });
}

void Form4::startTrashWork(std::function<void()> work)
{
    say({}); // the progress takes the status line's place
    m_model->setChecksLocked(true);
    action("undo")->setEnabled(false);
    m_check1->hide();
    m_stop->show();
    m_check2->setEnabled(false);
    m_progress->setValue(0);
    m_progressText->clear();
    m_progress->show();
    m_progressText->show();
    m_worker = QThread::create([work = std::move(work)] {
        yieldToTheWindow();
        work();
    });
    connect(m_worker, &QThread::finished, this, &Form4::endTrashWork);
    m_worker->start();
    m_follow->start();
    followTrashWork();
}

void Form4::followTrashWork(bool everything)
{
    constexpr std::size_t RowsPerTick = 2000;
    const std::size_t most = everything ? SIZE_MAX : RowsPerTick;
    std::size_t done = 0, total = 0;
    if (m_send) {
        removeMovedRows(most);
        done = m_send->done();
        total = m_send->total();
        if (m_send->waiting())
            m_progressText->setText(QStringLiteral("Waiting for another Twinfold window to move its file..."));
        else
            m_progressText->setText(QStringLiteral("Moving to the trash: %1 of %2")
                                        .arg(countText(qsizetype(done)), countText(qsizetype(total))));
    } else if (m_undo) {
        std::vector<ResultsModel::Row> back = m_undo->takeRowsBack(most);
        if (!back.empty())
            keepingTheView([&] { m_model->restoreRows(std::move(back)); });
        done = m_undo->done();
        total = m_undo->total();
        m_progressText->setText(
            QStringLiteral("Putting back: %1 of %2").arg(countText(qsizetype(done)), countText(qsizetype(total))));
    }
    m_progress->setValue(total == 0 ? 100 : int(done * 100 / total));
}

void Form4::removeMovedRows(std::size_t most)
{
    const std::vector<MovedFile> moved = m_send->takeMoved(most);
    if (moved.empty())
        return;
    std::vector<int> leaving;
    leaving.reserve(moved.size());
    QHash<quint32, QString> astray; // rows not where the list's order puts them
    for (const MovedFile &file : moved) {
        m_sending.files.push_back(file.trashed);
        if (const int row = m_model->findRow(file.group, file.collectionIndex);
            row >= 0 && m_model->row(row).path == file.path)
            leaving.push_back(row);
        else
            astray.insert(file.collectionIndex, file.path);
    }
    for (int row = 0; !astray.isEmpty() && row < m_model->rows(); ++row)
        if (const auto found = astray.constFind(m_model->row(row).collectionIndex);
            found != astray.cend() && *found == m_model->row(row).path)
            leaving.push_back(row);
    std::vector<ResultsModel::Row> gone;
    keepingTheView([&] { gone = m_model->takeRows(std::move(leaving)); });
    for (ResultsModel::Row &row : gone) {
        row.checked = false;
        m_sending.rows.push_back(std::move(row));
    }
}

void Form4::keepingTheView(const std::function<void()> &change)
{
    // Rows leave and come back in batches: the row in view and the current row stay put.
    const int top = m_list->indexAt(QPoint(1, 1)).row();
    const int current = currentRow();
    using Key = std::pair<std::uint32_t, std::uint32_t>; // group, collection index
    const auto keyOf = [this](int row) {
        return row >= 0 && row < m_model->rows()
            ? std::optional(Key(m_model->row(row).group, m_model->row(row).collectionIndex))
            : std::nullopt;
    };
    const std::optional<Key> topKey = keyOf(top), currentKey = keyOf(current);
    change();
    // A row that left leaves its place to the row now there.
    const auto placeOf = [this](const std::optional<Key> &key, int was) {
        const int row = key ? m_model->findRow(key->first, key->second) : -1;
        return row >= 0 ? row : was;
    };
    const int newTop = placeOf(topKey, top), newCurrent = placeOf(currentKey, current);
    const int last = m_model->rows() - 1;
    if (current >= 0 && last >= 0) {
        const QSignalBlocker quiet(m_list->selectionModel()); // no preview for a row that stayed
        m_list->selectionModel()->setCurrentIndex(m_model->index(std::min(newCurrent, last), 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (top >= 0 && last >= 0)
        m_list->scrollTo(m_model->index(std::min(newTop, last), 0), QAbstractItemView::PositionAtTop);
    m_list->viewport()->update();
}

void Form4::endTrashWork()
{
    m_follow->stop();
    followTrashWork(true);
    m_worker->deleteLater();
    m_worker = nullptr;
    m_stop->hide();
    m_check1->show();
    m_check2->setEnabled(true);
    m_progress->hide();
    m_progressText->hide();
    m_model->setChecksLocked(false);

    QString report;
    bool failed = false;
    const auto undoable = qScopeGuard([this] { action("undo")->setEnabled(m_lastSend.has_value()); });
    if (m_send) {
        const std::unique_ptr<TrashRun> run = std::move(m_send);
        // Checked rows of files gone by other hands go too; rows of files still there stay.
        RemoveCheckedRows(*m_model);
        if (!m_sending.files.empty())
            m_lastSend = std::move(m_sending);
        m_sending = {};
        report = reportText(run->outcome());
        failed = !run->outcome().failed.empty();
    } else if (m_undo) {
        const std::unique_ptr<UndoRun> run = std::move(m_undo);
        // Undo gives the list back its colours as they were before the send.
        m_model->setColourState(run->colours());
        report = run->reportText();
        failed = run->back() < qsizetype(run->total());
    }
    m_services.messages.show(report, MessageBoxes::Buttons::Ok, {},
                             failed ? MessageBoxes::Icon::Warning : MessageBoxes::Icon::Information);
    emit trashWorkFinished();
}

void Form4::Check2_Click()
{
    if (!m_mainWindow)
        return;
    if (isMaximized()) {
        m_mainWindow->setWindowState((m_mainWindow->windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen))
                                     | Qt::WindowMaximized);
        m_mainWindow->show();
        hide();
        return;
    }
    // Read from this window, which is framed now; a window just shown again may not know
    // its frame yet. Both windows carry the same frame.
    const QRect outer = m_framed->outer();
    const QMargins frame = m_framed->frame();
    m_mainWindow->setWindowState(m_mainWindow->windowState()
                                 & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    m_mainWindow->show();
    hide();
    // The inside is placed: where a move() puts a window not yet framed depends on the platform.
    m_mainWindow->setGeometry(outer.marginsRemoved(frame));
}

void Form4::Check3_Click()
{
    m_model->uncheckAll();
}
