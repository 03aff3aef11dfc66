#pragma once

#include <QString>

#include <chrono>
#include <functional>

class QUrl;

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
    using UrlOpener = std::function<bool(const QUrl &)>;
    static constexpr std::chrono::milliseconds DefaultRevealWait{5000};

    // `openFolder` opens a folder when the file manager cannot show the file (QDesktopServices
    // when empty); `revealWait` is how long the file manager has to answer.
    explicit SystemDesktop(UrlOpener openFolder = {}, std::chrono::milliseconds revealWait = DefaultRevealWait);

    bool open(const QString &path) override;
    // Asks the file manager, started by the bus when it is installed but not running, and
    // returns at once. The folder is opened instead when the answer is an error or does not
    // come within the wait. The startup id passed on is the one in XDG_ACTIVATION_TOKEN or
    // DESKTOP_STARTUP_ID, if any. False when neither could be asked.
    bool reveal(const QString &path) override;
    void copyText(const QString &text) override;

    // Called on this thread once a reveal that returned true is settled: false when the file
    // manager could not show the file and the folder could not be opened either.
    void setRevealSettled(std::function<void(const QString &path, bool shown)> settled)
    {
        m_revealSettled = std::move(settled);
    }

private:
    UrlOpener m_openFolder;
    std::chrono::milliseconds m_revealWait;
    std::function<void(const QString &, bool)> m_revealSettled;
};
