#pragma once

#include <QWidget>

// The preview window: the picture of the last clicked result row.
class Form2 final : public QWidget
{
    Q_OBJECT

public:
    Form2();
};
