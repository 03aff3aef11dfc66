#pragma once

#include <QString>

class Desktop;
class EventPump;
class FolderDialog;
class MessageBoxes;
class Screen;
class SettingsStore;
class Trash;

// The platform services a window works with, handed in through its constructor.
struct Services
{
    SettingsStore &settings;
    MessageBoxes &messages;
    FolderDialog &folderDialog;
    Screen &screen;
    Trash &trash;
    EventPump &pump;
    QString programFolder;      // where "HAND-M.CUR" is looked for
    Desktop *desktop = nullptr; // open, reveal, copy a path; none: the system's
};
