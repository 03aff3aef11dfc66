#pragma once

#include "SearchDriver.h"
#include "SearchHost.h"

#include <QCursor>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class FolderListModel;
class FolderListView;
class FramedWindow;
class Form2;
class Form4;
class Desktop;
class UniqueFilesWindow;
class PictureButton;
class QGroupBox;
class QListWidget;
class QMimeData;
class QProgressBar;
class Screen;
class SvgPicture;
struct Services;

// The main window: banner, the four picture buttons, the folder list and the progress bar.
// It runs FIND DUPES itself, as the search's host, reading the folder list row by row.
class Form1 final : public QWidget, private SearchHost, private FolderRows
{
    Q_OBJECT

public:
    explicit Form1(Services &services);
    ~Form1() override;

    // Places a window at the screen's centre raised by 1,000 twips, keeping its top edge
    // inside the work area so the caption bar can always be reached.
    static void CenterForm(QWidget &window, const Screen &screen);

protected:
    bool event(QEvent *event) override;
    void setVisible(bool visible) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class ResultsListSink;

    void buildControls();
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Check6_Click();
    void ListView3_DragDrop(const QMimeData *data);
    void presentResults();
    void searchEnded();            // the buttons and caption back as they were before the search
    void findUniqueFiles(int row); // UniqueFilesSearch.cpp
    void showHandPointer(bool hand);
    void fitOuterSizeToFrame();
    void keepInsideWorkArea();

    Form4 &resultsWindow();
    Form2 &previewWindow();

    // SearchHost
    void enterPhase(SearchPhase phase, const QString &folder) override;
    void setProgress(int percent) override;
    void pumpEvents() override;
    bool stopRequested() override;
    void showMessage(const QString &text, const QString &title) override;
    bool askYesNo(const QString &text, const QString &title) override;

    // FolderRows
    std::size_t rowCount() const override;
    QString rowText(std::size_t row) const override;

    Services &m_services;
    SvgPicture *m_image6 = nullptr;
    PictureButton *m_check1 = nullptr;
    PictureButton *m_check2 = nullptr;
    PictureButton *m_check3 = nullptr;
    PictureButton *m_check6 = nullptr;
    QGroupBox *m_frame2 = nullptr;
    FolderListModel *m_folders = nullptr;
    FolderListView *m_listView3 = nullptr;
    QProgressBar *m_progressBar1 = nullptr;
    QListWidget *m_list4 = nullptr;
    FramedWindow *m_framed = nullptr;

    std::optional<QCursor> m_handPointer;
    std::unique_ptr<ResultsListSink> m_sink;
    std::unique_ptr<SearchDriver> m_driver;
    std::unique_ptr<Form4> m_form4;
    std::unique_ptr<Form2> m_form2;
    std::unique_ptr<Desktop> m_ownDesktop;
    std::unique_ptr<UniqueFilesWindow> m_uniqueWindow;

    bool m_loading = false;
    bool m_searching = false;
    bool m_closing = false;
    // A saved outer size is applied before the window manager adds its frame; once the
    // frame is known the client area is shrunk by it, so the window does not grow by its
    // frame at every start.
    std::optional<int> m_pendingOuterWidth;
    std::optional<int> m_pendingOuterHeight;
    QSize m_sizeAsApplied;
    QSize m_outerLaidOut;  // the outer size the resize steps last ran for
    QTimer m_restoreCheck; // runs once the geometry of a restore has settled
    int m_restoreChecksLeft = 0;
};
