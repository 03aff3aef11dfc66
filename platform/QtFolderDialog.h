#pragma once

#include "FolderDialog.h"

class QWidget;

// The platform's folder dialog. It opens in the folder chosen last in this run, else in
// the home folder, never in the process's working directory.
class QtFolderDialog final : public FolderDialog
{
public:
    explicit QtFolderDialog(QWidget *owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget *owner) { m_owner = owner; }
    QString browseForFolder(const QString &prompt) override;

private:
    QWidget *m_owner;
    QString m_lastChosen;
};
