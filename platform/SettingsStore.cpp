#include "SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The settings are a handful of short values; a file far larger was not written by us, and
// reading it would hold up the start for seconds or minutes.
constexpr off_t MaxSettingsBytes = 1 << 20;

QString groupKey(const QString &key)
{
    return QStringLiteral("Twinfold/") + key;
}

// True when the file is missing or a regular file of at most MaxSettingsBytes. Anything else
// (a FIFO, a device, a folder) is never opened by QSettings: opening a FIFO for reading blocks
// until some writer comes. The final check runs on a descriptor opened without blocking.
bool usableSettingsFile(const QString &fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISREG(info.st_mode) || info.st_size > MaxSettingsBytes)
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == EACCES; // QSettings copes with an unreadable file
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxSettingsBytes;
    ::close(fd);
    return regular;
}
} // namespace

QString QtSettingsStore::userFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Quillmoor.ini");
}

QtSettingsStore::QtSettingsStore(const QString &fileName, std::chrono::milliseconds writeDelay)
    : m_fileName(fileName.isEmpty() ? userFileName() : fileName)
{
    if (usableSettingsFile(m_fileName)) {
        m_file = std::make_unique<QSettings>(m_fileName, QSettings::IniFormat);
        m_file->beginGroup(QStringLiteral("Twinfold"));
        for (const QString &key : m_file->childKeys()) {
            // Read as text, as a fresh start would, so conversion faults are not hidden by a cache.
            m_values.insert_or_assign(key, m_file->value(key).toString());
        }
        m_file->endGroup();
    }
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(writeDelay);
    m_writeTimer.callOnTimeout([this] { flush(); });
}

QtSettingsStore::~QtSettingsStore()
{
    flush();
}

std::optional<QString> QtSettingsStore::value(const QString &key) const
{
    const auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

void QtSettingsStore::setValue(const QString &key, const QString &value)
{
    const auto it = m_values.find(key);
    if (it != m_values.end() && it->second == value)
        return;
    m_values.insert_or_assign(key, value);
    if (!m_file)
        return;
    m_pending.insert(key, value);
    m_writeTimer.start(); // restarted by every write: a resize drag ends in one file write
}

void QtSettingsStore::flush()
{
    m_writeTimer.stop();
    if (m_pending.isEmpty() || !m_file)
        return;
    // The file may have been replaced since the start; never write through a FIFO.
    if (!usableSettingsFile(m_fileName)) {
        m_pending.clear();
        return;
    }
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        m_file->setValue(groupKey(it.key()), it.value());
    m_pending.clear();
    m_file->sync();
}

std::optional<QString> MemorySettingsStore::value(const QString &key) const
{
    const auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

void MemorySettingsStore::setValue(const QString &key, const QString &value)
{
    m_values.insert_or_assign(key, value);
}
