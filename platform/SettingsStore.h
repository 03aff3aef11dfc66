#pragma once

#include <QHash>
#include <QString>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

class QSettings;

// One text value per key in the per-user settings store (application "Quillmoor",
// section "Twinfold"). Values are always text; callers convert.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    // Empty optional when the key was never written.
    virtual std::optional<QString> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QString &value) = 0;

protected:
    // Ordered rather than hashed: a search reads "Stop" at every folder entry, and Qt 6.4 took
    // 0.2 microseconds here to hash a key that short, where comparing takes a few nanoseconds.
    using ValueMap = std::map<QString, QString>;
};

// QSettings-backed store: $XDG_CONFIG_HOME/Quillmoor.ini, section [Twinfold]. A value
// is seen at once by this process; the file takes the latest values once writes have
// paused for writeDelay, and when the store ends, so a large file is not rewritten at
// every step of a window resize. A settings file that is not a regular file (a FIFO
// would block the start) or is over 1 MiB (it would take seconds to read) is neither read
// nor written: the store starts empty then.
// Used from one thread, which runs an event loop.
class QtSettingsStore final : public SettingsStore
{
public:
    static constexpr std::chrono::milliseconds DefaultWriteDelay{500};

    // fileName empty: the user's settings file.
    explicit QtSettingsStore(const QString &fileName = {}, std::chrono::milliseconds writeDelay = DefaultWriteDelay);
    ~QtSettingsStore() override;

    std::optional<QString> value(const QString &key) const override;
    void setValue(const QString &key, const QString &value) override;

    // Writes the values still waiting for the file.
    void flush();
    QString fileName() const { return m_fileName; }
    // False when the file was refused and the values live in memory only.
    bool usesFile() const { return m_file != nullptr; }
    static QString userFileName();

private:
    QString m_fileName;
    std::unique_ptr<QSettings> m_file;
    ValueMap m_values;                 // every value seen or written, by key
    QHash<QString, QString> m_pending; // written, not yet in the file
    QTimer m_writeTimer;
};

// In-memory store for tests and the headless tool.
class MemorySettingsStore final : public SettingsStore
{
public:
    std::optional<QString> value(const QString &key) const override;
    void setValue(const QString &key, const QString &value) override;

private:
    ValueMap m_values;
};
