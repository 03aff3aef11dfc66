#pragma once

#include <QWidget>

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

private:
    Services &m_services;
    QWidget *m_mainWindow;
    ResultsModel *m_model;
};
