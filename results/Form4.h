#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "RecyclingBin.h"
#include "ResultsModel.h"
#include "Trash.h"

class Desktop;
class Form2;
class FramedWindow;
class PictureButton;
class QAction;
class QLabel;
class QProgressBar;
class QThread;
class QTimer;
class QMenu;
class QTreeView;
struct Services;

// The results window: the duplicates of the last search, with their commands.
class Form4 final : public QWidget
{
    Q_OBJECT

public:
    // mainWindow is shown again by BACK TO MAIN.
    Form4(Services &services, QWidget *mainWindow);
    ~Form4() override;

    ResultsModel &results() { return *m_model; }
    QTreeView *list() const { return m_list; }
    FramedWindow &framed() const { return *m_framed; }
    // The window that shows the file of a clicked row; none means no preview.
    void setPreview(Form2 *preview);

    // SEND TO RECYCLING, BACK TO MAIN and UNCHECK ALL; each acts only when its button was
    // just pressed down, and first lets it up again.
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();

    // The list's helpers, as its context menu and shortcuts offer them, by object name:
    // "keepFirst", "keepOldest", "keepNewest", "keepShortest", "checkInFolder",
    // "checkOutsideFolder", "uncheckGroup", "nextCheckedGroup", "open", "reveal", "copyPath",
    // "undo". Row actions work on the current row.
    QAction *action(const char *name) const;
    // The context menu as it would open over this row (-1: over no row).
    QMenu *contextMenuFor(int row);
    // What the last protected-folder helper did, as its status said.
    QString helperStatus() const { return m_helperStatus; }
    // Puts back the files the last SEND TO RECYCLING moved, and their rows.
    void undoLastSend();
    // True while files go to the trash or come back from it, off the window's thread.
    bool busy() const { return m_worker != nullptr; }

signals:
    // A send or an Undo has ended and its report has been shown.
    void trashWorkFinished();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Form_Resize();
    void ListView1_Click();
    void deleteCheckedFiles();
    void createActions();
    int currentRow() const;
    void openRow(int row);
    void showRowMenu(const QPoint &where);
    void addProtectedActions(); // ProtectedActions.cpp
    void showProtectedGroupsOnly();
    QString elidedFolder(const QString &folder) const;
    // A line beside the buttons for what a command found, where it changed nothing.
    void say(const QString &text);
    void createProgress();
    void startTrashWork(std::function<void()> work);
    void followTrashWork();
    void endTrashWork();
    void removeMovedRows();
    void keepingTheView(const std::function<void()> &change);

    Services &m_services;
    // Either window may go first when the program ends.
    QPointer<QWidget> m_mainWindow;
    QPointer<Form2> m_preview;
    ResultsModel *m_model;
    QTreeView *m_list = nullptr;
    FramedWindow *m_framed = nullptr;
    PictureButton *m_check1 = nullptr;
    PictureButton *m_check2 = nullptr;
    PictureButton *m_check3 = nullptr;
    std::optional<QCursor> m_customPointer;
    bool m_mouseDown = false; // on the list: its click previews, not the move it makes
    std::unique_ptr<Desktop> m_ownDesktop;
    Desktop *m_desktop = nullptr;
    QMenu *m_menu = nullptr;
    QLabel *m_status = nullptr;
    std::vector<QAction *> m_rowActions; // need a row to act on

    // The send or Undo under way, the thread it runs on, and how the window follows it.
    std::unique_ptr<TrashRun> m_send;
    std::unique_ptr<UndoRun> m_undo;
    QThread *m_worker = nullptr;
    QTimer *m_follow = nullptr;
    PictureButton *m_stop = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_progressText = nullptr;
    SendRecord m_sending;                 // filled as the files leave
    std::optional<SendRecord> m_lastSend; // for Undo
    QString m_helperStatus;
};
