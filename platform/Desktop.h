#pragma once

#include <QString>

// What the desktop does for a file: open it in its usual program, show it in the file
// manager, put its path on the clipboard. Behind an interface so tests launch nothing.
class Desktop
{
public:
    virtual ~Desktop() = default;
    // False when nothing could be asked to open it.
    virtual bool open(const QString &path) = 0;
    // Shows the file selected in the file manager, or at least opens its folder.
    virtual bool reveal(const QString &path) = 0;
    virtual void copyText(const QString &text) = 0;
};

// The session's file manager over D-Bus (org.freedesktop.FileManager1), else the folder
// through QDesktopServices; the system clipboard.
class SystemDesktop final : public Desktop
{
public:
    bool open(const QString &path) override;
    bool reveal(const QString &path) override;
    void copyText(const QString &text) override;
};
