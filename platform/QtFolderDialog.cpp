#include "QtFolderDialog.h"

#include <QFileDialog>

QString QtFolderDialog::browseForFolder(const QString &prompt)
{
    return QFileDialog::getExistingDirectory(m_owner, prompt, {}, QFileDialog::ShowDirsOnly);
}
