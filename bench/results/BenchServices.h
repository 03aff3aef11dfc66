#pragma once

#include "Desktop.h"
#include "FolderDialog.h"

// Services the benchmarks' windows never use for real: no person to pick a folder, no
// file manager to open.
class NoDialog final : public FolderDialog
{
public:
    QString browseForFolder(const QString &) override { return {}; }
};

class NoDesktop final : public Desktop
{
public:
    bool open(const QString &) override { return true; }
    bool reveal(const QString &) override { return true; }
    void copyText(const QString &) override {}
};
