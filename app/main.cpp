#include "Form1.h"

#include "EventPump.h"
#include "FileSystem.h"
#include "QtFolderDialog.h"
#include "QtMessageBoxes.h"
#include "Screen.h"
#include "Services.h"
#include "SettingsStore.h"
#include "Trash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Twinfold"));

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
