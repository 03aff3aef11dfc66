#include "Form4.h"

#include "CursorFile.h"
#include "FileSystem.h"
#include "Form2.h"
#include "MessageBoxes.h"
#include "PictureButton.h"
#include "RecyclingBin.h"
#include "ResultsModel.h"
#include "Screen.h"
#include "SearchHost.h"
#include "Services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSet>
#include <QTreeView>


namespace {
constexpr int MaxNamedFiles = 15;

QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

// Up to MaxNamedFiles lines, then how many more there are.
QString namedLines(const QStringList &lines)
{
    QStringList shown = lines.mid(0, MaxNamedFiles);
    if (lines.size() > MaxNamedFiles)
        shown << QStringLiteral("... and %1 more.").arg(lines.size() - MaxNamedFiles);
    return shown.join(QLatin1Char('\n'));
}

// A checked row that reaches the same folder entry as an unchecked one (through a linked
// folder) is no copy of it: moving it would take the file the user meant to keep. Such
// requests leave the list and come back as failures.
std::vector<TrashFailure> holdFilesListedUnchecked(const ResultsModel &model, std::vector<TrashRequest> &requests)
{
    QMultiHash<QPair<quint64, quint64>, std::size_t> byFile;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].listed.valid)
            byFile.insert({requests[i].listed.device, requests[i].listed.inode}, i);
    }
    std::vector<bool> held(requests.size(), false);
    std::vector<TrashFailure> failures;
    for (int row = 0; row < model.rows() && !byFile.isEmpty(); ++row) {
        const FileIdentity &id = model.identity(row);
        if (model.isChecked(row) || !id.valid)
            continue;
        const QList<std::size_t> sameFile = byFile.values({id.device, id.inode});
        for (std::size_t i : sameFile) {
            if (!held[i] && sameFolderEntry(requests[i].path, model.path(row))) {
                held[i] = true;
                failures.push_back({requests[i].path,
                                    QStringLiteral("it is the same file as %1, which is not checked").arg(model.path(row))});
            }
        }
    }
    std::vector<TrashRequest> kept;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (!held[i])
            kept.push_back(std::move(requests[i]));
    }
    requests = std::move(kept);
    return failures;
}
} // namespace

Form4::Form4(Services &services, QWidget *mainWindow)
    : m_services(services), m_mainWindow(mainWindow), m_model(new ResultsModel(this))
{
    Form_Load();
}

Form4::~Form4() = default;

void Form4::setPreview(Form2 *preview)
{
    m_preview = preview;
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
    m_check2->setGeometry(twipsRect(120, 120, 3015, 1095));
    m_check1 = new PictureButton(QStringLiteral(":/results/art/send-to-recycling.svg"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setAccessibleName(QStringLiteral("Send to recycling"));
    m_check1->setToolTip(QStringLiteral("Delete checked files."));
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

    // The window's background shows the arrow; the list and the buttons the hand, if there is one.
    const QString pointerFile = m_services.programFolder + QStringLiteral("/HAND-M.CUR");
    if (PathExists(pointerFile))
        m_customPointer = loadCursorFile(pointerFile);
    const QCursor custom = m_customPointer.value_or(QCursor(Qt::ArrowCursor));
    setCursor(Qt::ArrowCursor);
    for (QWidget *w : {static_cast<QWidget *>(m_list), m_list->viewport(), static_cast<QWidget *>(m_list->header()),
                       static_cast<QWidget *>(m_check1), static_cast<QWidget *>(m_check2),
                       static_cast<QWidget *>(m_check3)})
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
    // Each checked path once, in list order.
    std::vector<TrashRequest> requests;
    QSet<QString> seen;
    const std::vector<int> checked = m_model->checkedRows();
    for (int row : checked) {
        const QString path = m_model->path(row);
        if (!seen.contains(path)) {
            seen.insert(path);
            requests.push_back({path, m_model->identity(row)});
        }
    }

    std::vector<TrashFailure> failures;
    if (!requests.empty()) {
        // Groups whose every listed copy is checked: nothing of their contents would be kept.
        std::vector<std::pair<int, int>> groups(static_cast<std::size_t>(m_model->groupCount()) + 1); // rows, checked
        for (int row = 0; row < m_model->rows(); ++row) {
            auto &counts = groups[static_cast<std::size_t>(m_model->groupOf(row))];
            ++counts.first;
            counts.second += m_model->isChecked(row) ? 1 : 0;
        }
        QStringList wholeGroupPaths;
        int wholeGroups = 0;
        int lastGroup = -1;
        for (int row : checked) {
            const int group = m_model->groupOf(row);
            const auto &counts = groups[static_cast<std::size_t>(group)];
            if (counts.first != counts.second)
                continue;
            if (group != lastGroup)
                ++wholeGroups;
            lastGroup = group;
            wholeGroupPaths << m_model->path(row);
        }

        QString question = QStringLiteral("Move %1 to the trash?").arg(plural(qsizetype(requests.size()), "checked file", "checked files"));
        if (wholeGroups > 0) {
            question += QStringLiteral("\n\nEvery copy is checked in %1, so no copy of %2 would be kept:\n")
                            .arg(plural(wholeGroups, "group of identical files", "groups of identical files"),
                                 QLatin1String(wholeGroups == 1 ? "its contents" : "their contents"));
            question += namedLines(wholeGroupPaths);
        }
        const auto answer = m_services.messages.show(question, MessageBoxes::Buttons::OkCancel, {},
                                                     wholeGroups > 0 ? MessageBoxes::Icon::Warning
                                                                     : MessageBoxes::Icon::Question);
        if (answer == MessageBoxes::Answer::Ok || answer == MessageBoxes::Answer::Yes) {
            failures = holdFilesListedUnchecked(*m_model, requests);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            TrashOutcome outcome = SendToRecycleBin(m_services.trash, requests);
            QApplication::restoreOverrideCursor();
            failures.insert(failures.end(), outcome.failed.begin(), outcome.failed.end());
            RemoveCheckedRows(*m_model);
        }
    }

    // Groups are not worked out again: every remaining row goes white.
    m_model->setAllRowColours(QStringLiteral("white"));
    m_list->viewport()->update();

    if (!failures.empty()) {
        QStringList lines;
        for (const TrashFailure &failure : failures)
            lines << failure.path + QStringLiteral(": ") + failure.reason;
        const QString text = QStringLiteral("%1 not moved to the trash:\n\n")
                                 .arg(plural(qsizetype(failures.size()), "file was", "files were")) +
                             namedLines(lines);
        m_services.messages.show(text, MessageBoxes::Buttons::Ok, {}, MessageBoxes::Icon::Warning);
    }
}

void Form4::Check2_Click()
{
    if (!m_check2->isChecked())
        return;
    m_check2->setChecked(false);
    if (!m_mainWindow)
        return;
    if (isMaximized()) {
        m_mainWindow->setWindowState((m_mainWindow->windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen)) |
                                     Qt::WindowMaximized);
        m_mainWindow->show();
        hide();
        return;
    }
    const QRect outer = frameGeometry();
    // Read from this window, which is framed now; a window just shown again may not know
    // its frame yet. Both windows carry the same frame.
    const QMargins frame(geometry().left() - outer.left(), geometry().top() - outer.top(),
                         outer.right() - geometry().right(), outer.bottom() - geometry().bottom());
    m_mainWindow->setWindowState(m_mainWindow->windowState() &
                                 ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
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
