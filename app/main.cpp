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

int main(int argc, char *argv[])
{
    UseOneMemoryPool();
    QApplication app(argc, argv);
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
