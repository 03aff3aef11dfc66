#include "Form1.h"

#include "AddFolder.h"
#include "CursorFile.h"
#include "Desktop.h"
#include "EventPump.h"
#include "FileSystem.h"
#include "FolderDialog.h"
#include "FolderListModel.h"
#include "FolderListView.h"
#include "Form2.h"
#include "Form4.h"
#include "ProtectedFiles.h"
#include "UniqueFilesWindow.h"
#include "MessageBoxes.h"
#include "PictureButton.h"
#include "ResultsModel.h"
#include "Screen.h"
#include "Services.h"
#include "SettingsStore.h"
#include "SvgPicture.h"
#include "WindowPlacement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QListWidget>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QWindowStateChangeEvent>

using namespace WindowPlacement;

namespace {
const QString KeyWindowState = QStringLiteral("WindowState");
const QString KeyFormWidth = QStringLiteral("FormWidth");
const QString KeyFormHeight = QStringLiteral("FormHeight");
const QString KeyStop = QStringLiteral("Stop");

void setTwipsGeometry(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

int widthTwips(const QWidget *widget)
{
    return pixelsToTwips(widget->width());
}

int heightTwips(const QWidget *widget)
{
    return pixelsToTwips(widget->height());
}

QFont listFont()
{
    return QFont(QStringLiteral("Arial"), 9, QFont::Bold);
}
} // namespace

// The results list of Form4, reached only when the search first touches it, so a search
// that stops at an empty folder list does not load the results window.
class Form1::ResultsListSink final : public ResultsSink
{
public:
    explicit ResultsListSink(Form1 &window) : m_window(window) {}
    void clearRows() override { target().clearRows(); }
    void addRow(const ResultRow &row) override { target().addRow(row); }
    void endGroup() override { target().endGroup(); }
    std::size_t rowCount() const override { return target().rowCount(); }

private:
    ResultsSink &target() const { return m_window.resultsWindow().results(); }

    Form1 &m_window;
};

Form1::Form1(Services &services) : m_services(services)
{
    buildControls();
    m_sink = std::make_unique<ResultsListSink>(*this);
    m_driver = std::make_unique<SearchDriver>(static_cast<SearchHost &>(*this), m_services.settings, *m_sink);
    m_driver->setStartedCallback([this] {
        m_check6->show();
        m_check1->hide();
        m_check6->setFocus();
        m_list4->clear();
    });
    m_restoreCheck.setSingleShot(true);
    m_restoreCheck.setInterval(150);
    m_restoreCheck.callOnTimeout(this, &Form1::keepInsideWorkArea);
    Form_Load();
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    resize(twipsToPixels(11880), twipsToPixels(6240));
    setMouseTracking(true);
    m_framed = new FramedWindow(*this);

    m_image6 = new SvgPicture(QStringLiteral(":/app/art/banner.svg"), this);
    m_image6->setObjectName(QStringLiteral("Image6"));
    setTwipsGeometry(m_image6, -60, -60, 6285, 1335);

    const auto makeButton = [this](const char *name, const char *art, int left, int top) {
        auto *button = new PictureButton(QStringLiteral(":/app/art/%1.svg").arg(QLatin1String(art)), this);
        button->setObjectName(QLatin1String(name));
        setTwipsGeometry(button, left, top, 1695, 1095);
        return button;
    };
    m_check2 = makeButton("Check2", "add-folder", 6240, 120);
    m_check2->setAccessibleName(QStringLiteral("Add Folder"));
    m_check1 = makeButton("Check1", "find-dupes", 8040, 120);
    m_check1->setAccessibleName(QStringLiteral("Find Dupes"));
    m_check3 = makeButton("Check3", "clear-list", 9840, 120);
    m_check3->setAccessibleName(QStringLiteral("Clear List"));
    m_check6 = makeButton("Check6", "stop-find", 9120, 2040);
    m_check6->setAccessibleName(QStringLiteral("Stop Find"));
    m_check6->hide();
    // Keys for the picture buttons; a hidden button's key does nothing, as its click would.
    const auto giveKey = [](PictureButton *button, const QKeySequence &key) {
        button->setShortcut(key);
        button->setToolTip(
            QStringLiteral("%1 (%2)").arg(button->accessibleName(), key.toString(QKeySequence::NativeText)));
    };
    giveKey(m_check2, QKeySequence(Qt::CTRL | Qt::Key_O));
    giveKey(m_check1, QKeySequence(Qt::Key_F5));
    giveKey(m_check6, QKeySequence(Qt::Key_Escape));

    m_frame2 = new QGroupBox(QStringLiteral("Folders to Find Duplicate Images In:"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setFont(listFont());
    QPalette grey = m_frame2->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    grey.setColor(QPalette::Window, Qt::white);
    m_frame2->setPalette(grey);
    setTwipsGeometry(m_frame2, 120, 1320, 8535, 2295);

    m_folders = new FolderListModel(this);
    m_listView3 = new FolderListView(*m_folders, m_frame2);
    m_listView3->setObjectName(QStringLiteral("ListView3"));
    m_listView3->setAccessibleName(QStringLiteral("Folders to find duplicate images in"));
    m_listView3->setFont(listFont());
    m_listView3->setPalette(palette());
    setTwipsGeometry(m_listView3, 120, 240, 8295, 1695);

    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setAccessibleName(QStringLiteral("Search progress"));
    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(false);
    setTwipsGeometry(m_progressBar1, 360, 4920, 3015, 375);

    // The search keeps its folder queue itself; this hidden list stays part of the window
    // and is emptied at the start of every search.
    m_list4 = new QListWidget(this);
    m_list4->setObjectName(QStringLiteral("List4"));
    setTwipsGeometry(m_list4, 9360, 4080, 1815, 1815);
    m_list4->hide();

    setTabOrder(m_check2, m_check1);
    setTabOrder(m_check1, m_check6);
    setTabOrder(m_check6, m_check3);
    setTabOrder(m_check3, m_listView3);

    connect(m_check1, &QAbstractButton::clicked, this, &Form1::Check1_Click);
    connect(m_check2, &QAbstractButton::clicked, this, &Form1::Check2_Click);
    connect(m_check3, &QAbstractButton::clicked, this, &Form1::Check3_Click);
    connect(m_check6, &QAbstractButton::clicked, this, &Form1::Check6_Click);
    connect(m_listView3, &FolderListView::dropped, this, &Form1::ListView3_DragDrop);
    connect(m_listView3, &FolderListView::uniqueFilesRequested, this, &Form1::findUniqueFiles);

    // Mouse moves over these set the window's pointer; the progress bar has no say.
    for (QWidget *watched :
         {static_cast<QWidget *>(m_image6), static_cast<QWidget *>(m_frame2), static_cast<QWidget *>(m_check1),
          static_cast<QWidget *>(m_check2), static_cast<QWidget *>(m_check3), static_cast<QWidget *>(m_check6),
          static_cast<QWidget *>(m_listView3), m_listView3->viewport(), m_listView3->header()->viewport(),
          static_cast<QWidget *>(m_listView3->header())}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }
}

void Form1::CenterForm(QWidget &window, const Screen &screen)
{
    window.move(centred(screen.size(), window.frameGeometry().size(), screen.workArea()));
}

void Form1::Form_Load()
{
    // Nothing the start-up does here may save the window settings before they are read.
    m_loading = true;

    CenterForm(*this, m_services.screen);
    m_check6->move(m_check1->pos());
    setWindowTitle(productCaption());

    const QString cursorFile = m_services.programFolder + QStringLiteral("/HAND-M.CUR");
    if (PathExists(cursorFile))
        m_handPointer = loadCursorFile(cursorFile);

    m_folders->addColumn(QStringLiteral("Folder"));

    const Saved saved{savedInt16(m_services.settings.value(KeyWindowState)),
                      savedInt16(m_services.settings.value(KeyFormWidth)),
                      savedInt16(m_services.settings.value(KeyFormHeight))};
    const Start start = WindowPlacement::start(saved, frameGeometry(), m_framed->frame(), m_services.screen.workArea());
    // Nothing is shown or saved meanwhile.
    resize(start.client);
    m_pendingOuterWidth = start.outerWidth;
    m_pendingOuterHeight = start.outerHeight;
    m_sizeAsApplied = size();
    move(start.position);
    if (start.state != Qt::WindowNoState)
        setWindowState(start.state);

    m_listView3->header()->resizeSection(0, twipsToPixels(7.0 / 8.0 * widthTwips(m_listView3) - 100));

    m_loading = false;
}

void Form1::Form_Resize()
{
    if (m_loading || m_closing)
        return;
    // A window shown again reads no frame for a while: its outer size is still the framed one.
    m_outerLaidOut = m_framed->outer().size();
    const int outerWidth = pixelsToTwips(m_outerLaidOut.width());
    const int outerHeight = pixelsToTwips(m_outerLaidOut.height());
    // A minimised window has no room to lay out; every layout step is skipped then.
    const bool canLayOut = !isMinimized();

    if (canLayOut && outerWidth - 600 >= 0)
        m_listView3->resize(twipsToPixels(outerWidth - 600), m_listView3->height());
    if (canLayOut && outerHeight - 2700 >= 0)
        m_listView3->resize(m_listView3->width(), twipsToPixels(outerHeight - 2700));
    if (canLayOut)
        m_frame2->resize(twipsToPixels(widthTwips(m_listView3) + 260), m_frame2->height());
    if (canLayOut)
        m_frame2->resize(m_frame2->width(), twipsToPixels(heightTwips(m_listView3) + 380));
    if (canLayOut)
        m_progressBar1->move(m_frame2->x(), m_progressBar1->y());
    if (canLayOut)
        m_progressBar1->resize(m_frame2->width(), m_progressBar1->height());
    if (canLayOut)
        m_progressBar1->move(m_progressBar1->x(), twipsToPixels(outerHeight - 920));

    m_services.settings.setValue(KeyWindowState, QString::number(stateNumber(windowState())));
    m_services.settings.setValue(KeyFormHeight, QString::number(outerHeight));
    m_services.settings.setValue(KeyFormWidth, QString::number(outerWidth));
}

void Form1::fitOuterSizeToFrame()
{
    if ((!m_pendingOuterWidth && !m_pendingOuterHeight) || !isVisible() || m_loading)
        return;
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    if (size() != m_sizeAsApplied) {
        // Resized since start-up: the saved size no longer applies.
        m_pendingOuterWidth.reset();
        m_pendingOuterHeight.reset();
        return;
    }
    const QSize margins = frameGeometry().size() - size();
    if (margins.isNull())
        return; // no frame yet, or none at all
    QSize client = size();
    if (m_pendingOuterWidth)
        client.setWidth(std::max(1, *m_pendingOuterWidth - margins.width()));
    if (m_pendingOuterHeight)
        client.setHeight(std::max(1, *m_pendingOuterHeight - margins.height()));
    m_pendingOuterWidth.reset();
    m_pendingOuterHeight.reset();
    if (client != size())
        resize(client);
}

bool Form1::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::WindowStateChange:
        // A window the user takes out of the maximised state comes back inside the work
        // area, once the window manager has given it its restored size.
        if ((static_cast<QWindowStateChangeEvent *>(event)->oldState() & Qt::WindowMaximized)
            && !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))) {
            m_restoreChecksLeft = 5;
            m_restoreCheck.start();
        }
        Q_FALLTHROUGH();
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        fitOuterSizeToFrame();
        // The window manager frames a window after it is shown: the outer size changes
        // with no resize of the inside, and the layout and the saved size follow it.
        if (isVisible() && !m_loading && m_framed->outer().size() != m_outerLaidOut)
            Form_Resize();
        if (m_restoreCheck.isActive())
            m_restoreCheck.start();
        break;
    default:
        break;
    }
    return handled;
}

void Form1::keepInsideWorkArea()
{
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        return;
    // The frame of the restored window may be told later than its size: the layout and the
    // saved size follow it, and the window is checked again once it has moved.
    if (m_framed->outer().size() != m_outerLaidOut)
        Form_Resize();
    const QRect outer = m_framed->outer();
    const QRect inside = insideWorkArea(outer, m_services.screen.workArea());
    if (inside == outer || m_restoreChecksLeft <= 0)
        return;
    --m_restoreChecksLeft;
    resize(size() - (outer.size() - inside.size()));
    move(inside.topLeft());
    m_restoreCheck.start();
}

void Form1::setVisible(bool visible)
{
    // A window started minimised and restored by the user may keep its start-up
    // "iconic" hint on the platform window; shown again, it would come back minimised.
    // Passing through another state makes the platform window write its hint afresh.
    if (visible && !isVisible() && !(windowState() & Qt::WindowMinimized)) {
        if (QWindow *handle = windowHandle()) {
            const Qt::WindowStates target = windowState();
            handle->setWindowStates(target & Qt::WindowMaximized ? Qt::WindowNoState : Qt::WindowMaximized);
            handle->setWindowStates(target);
        }
    }
    QWidget::setVisible(visible);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload()
{
    // The whole program ends; a running search sees the stop at its next polling point
    // and the event loop ends as soon as control returns to it.
    m_closing = true;
    if (m_form4)
        m_form4->hide();
    if (m_form2)
        m_form2->hide();
    QCoreApplication::quit();
}

void Form1::showHandPointer(bool hand)
{
    if (!hand)
        setCursor(Qt::ArrowCursor);
    else if (m_handPointer)
        setCursor(*m_handPointer);
    else
        setCursor(Qt::PointingHandCursor);
}

void Form1::mouseMoveEvent(QMouseEvent *event)
{
    // Moves that a control passes on (the progress bar's) leave the pointer alone.
    if (!childAt(event->position().toPoint()))
        showHandPointer(false);
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == m_image6 || watched == m_frame2)
            showHandPointer(false);
        else
            showHandPointer(true);
    }
    return QWidget::eventFilter(watched, event);
}

Form4 &Form1::resultsWindow()
{
    if (!m_form4) {
        m_form4 = std::make_unique<Form4>(m_services, this);
        // A click in the results list previews the row even before the preview is first shown.
        m_form4->setPreview(&previewWindow());
    }
    return *m_form4;
}

Form2 &Form1::previewWindow()
{
    if (!m_form2)
        m_form2 = std::make_unique<Form2>();
    return *m_form2;
}

void Form1::Check1_Click()
{
    if (m_searching)
        return;
    m_searching = true;

    // Shift held down as FIND DUPES is pressed: every file is read, the fingerprint store left alone.
    m_driver->setFingerprintStore(!(QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier));
    const SearchDriver::Outcome outcome = m_driver->run(*this);
    if (outcome == SearchDriver::Outcome::Found && !m_closing) {
        resultsWindow().results().setProtection(
            ProtectedFiles(m_folders->protectedRows(), m_driver->candidates().otherNames()));
        presentResults();
    }

    searchEnded();
}

void Form1::searchEnded()
{
    m_check1->show();
    // The focus STOP FIND had goes back to FIND DUPES, not on to CLEAR LIST, where one
    // Space would empty the list.
    if (focusWidget() == m_check6 || !focusWidget())
        m_check1->setFocus();
    m_check6->hide();
    setWindowTitle(productCaption());
    m_progressBar1->setValue(0);
    m_searching = false;
}

void Form1::presentResults()
{
    const QMargins frame = m_framed->frame();
    const QRect mainOuter = m_framed->outer();
    Form4 &results = resultsWindow();
    if (isMaximized()) {
        results.setWindowState(Qt::WindowMaximized);
    } else if (!isMinimized()) {
        results.setWindowState(Qt::WindowNoState);
        // Both windows carry the same frame, so equal client sizes give equal outer sizes.
        results.resize(size());
        results.move(pos());
    }
    results.show();
    // Arrow keys and the list's shortcuts act on the rows at once; Space on a focused
    // SEND TO RECYCLING would be one key away from the confirmation.
    results.list()->setFocus();
    hide();

    // The results window is framed only some time after it is shown; until then the window
    // manager's frame is taken to be this window's, which it gave both alike.
    const QRect workArea = m_services.screen.workArea();
    const QMargins resultsFrame = results.framed().frame();
    QRect outer = results.geometry().marginsAdded(resultsFrame.isNull() ? frame : resultsFrame);
    if (results.isMaximized())
        outer = workArea;
    else if (!isMinimized())
        outer = mainOuter; // the results window took this window's place
    Form2 &preview = previewWindow();
    preview.showBelow(outer, workArea, frame);
    // In front of the results window even where it overlaps a maximised one.
    preview.raise();
}

void Form1::Check6_Click()
{
    m_services.settings.setValue(KeyStop, QStringLiteral("True"));
}

void Form1::Check2_Click()
{
    const QString chosen = m_services.folderDialog.browseForFolder(QStringLiteral("Please select folder to add:"));
    if (chosen.isEmpty())
        return;
    m_folders->appendRow(folderRowForChosenFolder(chosen));
}

void Form1::Check3_Click()
{
    m_folders->clear();
}

void Form1::ListView3_DragDrop(const QMimeData *data)
{
    bool failed = data->urls().isEmpty();
    for (const QUrl &url : data->urls()) {
        const std::optional<QString> row = folderRowForDroppedUrl(url);
        if (!row) {
            failed = true;
            break;
        }
        m_folders->appendRow(*row);
    }
    if (!failed)
        return;
    // Shown once the drop is over, so the file manager is not held up by the box.
    QTimer::singleShot(0, this, [this] {
        m_services.messages.show(
            QStringLiteral("You can not drag and drop virtual folders like My Documents. Instead browse to "
                           "C:\\Documents and Settings\\Your Name\\My Documents, for example, or drag and drop "
                           "subfolders within My Documents"),
            MessageBoxes::Buttons::Ok, QStringLiteral("Error"), MessageBoxes::Icon::None);
    });
}

void Form1::enterPhase(SearchPhase phase, const QString &folder)
{
    setWindowTitle(captionFor(phase, folder));
}

void Form1::setProgress(int percent)
{
    m_progressBar1->setValue(std::clamp(percent, 0, 100));
}

void Form1::pumpEvents()
{
    m_services.pump.processEvents();
}

bool Form1::stopRequested()
{
    if (m_closing)
        return true;
    return m_services.settings.value(KeyStop) == QStringLiteral("True");
}

void Form1::showMessage(const QString &text, const QString &title)
{
    m_services.messages.show(text, MessageBoxes::Buttons::Ok, title, MessageBoxes::Icon::None);
}

bool Form1::askYesNo(const QString &text, const QString &title)
{
    return m_services.messages.show(text, MessageBoxes::Buttons::YesNo, title, MessageBoxes::Icon::None)
        == MessageBoxes::Answer::Yes;
}

std::size_t Form1::rowCount() const
{
    return static_cast<std::size_t>(m_folders->rowCount());
}

QString Form1::rowText(std::size_t row) const
{
    return m_folders->rowText(static_cast<int>(row));
}
