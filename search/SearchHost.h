#pragma once

#include "ProductInfo.h"

#include <QString>

// What the search needs from whoever runs it: the main window, or the headless tool.
// Every call is made on the thread that runs the search.
// Where a search is. The main window shows each as its caption (captionFor below).
enum class SearchPhase {
    Idle,       // between listed folders, and after collecting
    Collecting, // walking one listed folder
    Reading,
    Matching,
};

class SearchHost
{
public:
    virtual ~SearchHost() = default;
    // folder: the listed folder being collected, as the folder list gives it; empty otherwise.
    virtual void enterPhase(SearchPhase phase, const QString &folder) = 0;
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

// The main window's caption during each phase of a search.
inline QString captionFor(SearchPhase phase, const QString &folder = {})
{
    switch (phase) {
    case SearchPhase::Collecting:
        return productCaption() + QStringLiteral(" [Analyzing ") + folder + QStringLiteral(" folder]");
    case SearchPhase::Reading:
        return productCaption() + QStringLiteral(" [Reading images]");
    case SearchPhase::Matching:
        return productCaption() + QStringLiteral(" [Finding duplicate images]");
    case SearchPhase::Idle:
        break;
    }
    return productCaption();
}
