// SPDX-License-Identifier: GPL-2.0-or-later
#include "Form1.h"
#include "ProductInfo.h"

#include "EventPump.h"
#include "FileSystem.h"
#include "MemoryPools.h"
#include "QtFolderDialog.h"
#include "QtMessageBoxes.h"
#include "Screen.h"
#include "Services.h"
#include "SettingsStore.h"
#include "Trash.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr const char *HelpText =
    "Usage: twinfold [OPTION]...\n"
    "Opens Twinfold's window, in which you list folders and find the duplicate files in them.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "The window needs a graphical session (X11 or Wayland); twinfold-scan runs the same search\n"
    "without one. See twinfold(1) and twinfold-scan(1).\n";

constexpr const char *VersionText = "twinfold (" TWINFOLD_PRODUCT_NAME ") " TWINFOLD_PRODUCT_VERSION
                                    "\n" TWINFOLD_COPYRIGHT "\n"
                                    "License GPL-2.0-or-later: GNU GPL version 2 or later "
                                    "<https://gnu.org/licenses/gpl.html>.\n"
                                    "This is free software: you are free to change and redistribute it.\n"
                                    "There is NO WARRANTY, to the extent permitted by law.\n";

// --help and --version are answered before anything needs a display; 0 when neither was asked.
const char *informationAsked(int argc, char *argv[])
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return HelpText;
        if (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--version") == 0)
            return VersionText;
    }
    return nullptr;
}

// Qt's messages while it connects to the display: shown only if it succeeds, since a failure
// ends in an abort with advice that does not fit ("Reinstalling the application may fix this").
struct StartupMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<StartupMessage> startupMessages;
QtMessageHandler qtHandler = nullptr;

void duringStartup(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        startupMessages.push_back({type, context.category, text});
        return;
    }
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    std::fprintf(stderr, "twinfold: %s; twinfold-scan finds duplicates without one\n",
                 noDisplay ? "no graphical display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset)"
                           : "cannot open the window: the graphical display cannot be reached");
    std::_Exit(1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (const char *text = informationAsked(argc, argv)) {
        const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
        return written ? 0 : 1;
    }

    UseOneMemoryPool();
    qtHandler = qInstallMessageHandler(duringStartup);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const StartupMessage &message : startupMessages)
        qtHandler(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()), message.text);
    startupMessages.clear();

    QApplication::setApplicationName(QStringLiteral(TWINFOLD_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(TWINFOLD_PRODUCT_VERSION));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TWINFOLD_DESKTOP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon/" TWINFOLD_DESKTOP_ID ".svg")));

    QtSettingsStore settings;
    QtMessageBoxes messages;
    QtFolderDialog folderDialog;
    QtScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    Services services{settings, messages, folderDialog, screen, trash, pump, applicationFolder()};

    Form1 window(services);
    folderDialog.setOwner(&window);
    window.show();
    return QApplication::exec();
}
