#include "TestEnvironment.h"

#include <QDir>

TestEnvironment::TestEnvironment()
{
    if (!m_dir.isValid())
        qFatal("cannot create a temporary folder for the test environment");
    for (const char *name : {"config", "data", "cache"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(name));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
}
