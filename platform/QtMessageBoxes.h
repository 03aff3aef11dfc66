#pragma once

#include "MessageBoxes.h"

class QWidget;

class QtMessageBoxes final : public MessageBoxes
{
public:
    Answer show(const QString &text, Buttons buttons, const QString &title, Icon icon) override;
};
