#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <optional>

class Form2;
class PictureButton;
class QTreeView;
class ResultsModel;
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
    // The window that shows the file of a clicked row; none means no preview.
    void setPreview(Form2 *preview);

    // SEND TO RECYCLING, BACK TO MAIN and UNCHECK ALL; each acts only when its button was
    // just pressed down, and first lets it up again.
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Resize();
    void ListView1_Click();
    void deleteCheckedFiles();

    Services &m_services;
    // Either window may go first when the program ends.
    QPointer<QWidget> m_mainWindow;
    QPointer<Form2> m_preview;
    ResultsModel *m_model;
    QTreeView *m_list = nullptr;
    PictureButton *m_check1 = nullptr;
    PictureButton *m_check2 = nullptr;
    PictureButton *m_check3 = nullptr;
    std::optional<QCursor> m_customPointer;
};
