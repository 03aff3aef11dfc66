#include "QtFolderDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString QtFolderDialog::browseForFolder(const QString &prompt)
{
    const QString start = !m_lastChosen.isEmpty() && QFileInfo(m_lastChosen).isDir() ? m_lastChosen : QDir::homePath();
    const QString chosen = QFileDialog::getExistingDirectory(m_owner, prompt, start, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        m_lastChosen = chosen;
    return chosen;
}
