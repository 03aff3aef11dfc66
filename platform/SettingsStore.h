#pragma once

#include <QString>
#include <QHash>
#include <optional>

// One text value per key in the per-user settings store (application "Quillmoor",
// section "Twinfold"). Values are always text; callers convert.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    // Empty optional when the key was never written.
    virtual std::optional<QString> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QString &value) = 0;
};

// QSettings-backed store: $XDG_CONFIG_HOME/Quillmoor.ini, section [Twinfold].
class QtSettingsStore final : public SettingsStore
{
public:
    std::optional<QString> value(const QString &key) const override;
    void setValue(const QString &key, const QString &value) override;
};

// In-memory store for tests and the headless tool.
class MemorySettingsStore final : public SettingsStore
{
public:
    std::optional<QString> value(const QString &key) const override;
    void setValue(const QString &key, const QString &value) override;

private:
    QHash<QString, QString> m_values;
};
