#pragma once

#include <QTemporaryDir>
#include <QString>

// Points the settings store, the trash and the caches at a private temporary folder,
// so no test touches a real user's files. Create it before the application object.
class TestEnvironment
{
public:
    TestEnvironment();
    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }
    QString dataHome() const { return m_dir.filePath(QStringLiteral("data")); }

private:
    QTemporaryDir m_dir;
};
