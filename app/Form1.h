#pragma once

#include <QWidget>

struct Services;

// The main window: banner, the four picture buttons, the folder list and the progress bar.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(Services &services);
    ~Form1() override;

private:
    Services &m_services;
};
