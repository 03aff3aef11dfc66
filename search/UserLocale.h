#pragma once

#include <QLocale>

// The user's locale for numbers. Without one (the C locale) numbers are written
// the English way, with a comma every three digits.
inline QLocale userLocale()
{
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale;
}
