#pragma once

#include "FolderDialog.h"

class QWidget;

class QtFolderDialog final : public FolderDialog
{
public:
    explicit QtFolderDialog(QWidget *owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget *owner) { m_owner = owner; }
    QString browseForFolder(const QString &prompt) override;

private:
    QWidget *m_owner;
};
