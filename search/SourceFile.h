#pragma once

#include "FileIdentity.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// One candidate file opened for reading. Only a plain file whose length is still the one
// collected is accepted: anything else (vanished, replaced by a FIFO or folder, grown or
// shrunk since) counts as unreadable.
class SourceFile
{
public:
    SourceFile() = default;
    ~SourceFile() { close(); }
    SourceFile(SourceFile &&other) noexcept : m_fd(other.m_fd), m_atOpen(other.m_atOpen) { other.m_fd = -1; }
    SourceFile &operator=(SourceFile &&other) noexcept;
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    bool open(const char *path, std::int64_t expectedSize);
    bool open(const QByteArray &path, std::int64_t expectedSize) { return open(path.constData(), expectedSize); }
    // The file `name` inside the open folder `folder`, with the same checks.
    bool openIn(int folder, const char *name, std::int64_t expectedSize);
    // Reads exactly `size` bytes at `offset`; false on an error or an early end of file.
    bool readAt(std::int64_t offset, std::uint8_t *buffer, std::size_t size);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // The open file as fstat saw it when it was opened.
    const FileIdentity &identity() const { return m_atOpen; }
    // Call after the last read: false when the open file was written to, grown or shrunk
    // since it was opened, so the bytes read may be a mix of old and new.
    bool unchangedSinceOpen() const;
    // False when the path no longer names the file with this identity (renamed over,
    // replaced, removed, or changed in place).
    static bool pathStillNames(const char *path, const FileIdentity &identity);

private:
    bool accept(int fd, std::int64_t expectedSize);

    int m_fd = -1;
    FileIdentity m_atOpen;
};
