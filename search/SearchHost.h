#pragma once

#include "ProductInfo.h"

#include <QString>

// What the search needs from whoever runs it: the main window, or the headless tool.
// Every call is made on the thread that runs the search.
class SearchHost
{
public:
    virtual ~SearchHost() = default;
    virtual void setCaption(const QString &caption) = 0;
    virtual void setProgress(int percent) = 0;
    // Lets the window system process pending events once.
    virtual void pumpEvents() = 0;
    // True when the stop flag ("Stop" in the settings store) reads "True".
    virtual bool stopRequested() = 0;
    // A message box with an OK button only and no icon; an empty title means the application's.
    virtual void showMessage(const QString &text, const QString &title) = 0;
    // A message box with Yes and No and no icon; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &title) = 0;
};

inline QString productCaption()
{
    return QStringLiteral(TWINFOLD_PRODUCT_NAME " " TWINFOLD_PRODUCT_VERSION);
}
