#include "Trash.h"

bool SystemTrash::moveToTrash(const QString &, QString *errorText)
{
    if (errorText)
        *errorText = QStringLiteral("not implemented");
    return false;
}
