#pragma once

#include <QString>

// Message boxes as the windows use them. A box with an empty title bears the
// application's title, "Twinfold".
class MessageBoxes
{
public:
    enum class Buttons { Ok, YesNo, OkCancel };
    enum class Icon { None, Information, Warning, Question };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageBoxes() = default;
    virtual Answer show(const QString &text, Buttons buttons, const QString &title = {}, Icon icon = Icon::None) = 0;
};

inline const QString &applicationTitle()
{
    static const QString title = QStringLiteral("Twinfold");
    return title;
}
