#include "SettingsStore.h"

#include <QSettings>

namespace {
QSettings &store()
{
    // QSettings objects of one process share one cache, so a value written by STOP FIND
    // is seen at once by the search's next poll; one instance per thread is enough.
    thread_local QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmoor"));
    settings.setFallbacksEnabled(false);
    return settings;
}

QString groupKey(const QString &key)
{
    return QStringLiteral("Twinfold/") + key;
}
} // namespace

std::optional<QString> QtSettingsStore::value(const QString &key) const
{
    const QVariant v = store().value(groupKey(key));
    if (!v.isValid())
        return std::nullopt;
    // Read as text, as a fresh start would, so conversion faults are not hidden by the cache.
    return v.toString();
}

void QtSettingsStore::setValue(const QString &key, const QString &value)
{
    store().setValue(groupKey(key), value);
}

std::optional<QString> MemorySettingsStore::value(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

void MemorySettingsStore::setValue(const QString &key, const QString &value)
{
    m_values.insert(key, value);
}
