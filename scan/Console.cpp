// SPDX-License-Identifier: GPL-2.0-or-later
#include "Console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// The length of the valid UTF-8 sequence at text[0] (at most `left` bytes), or 0.
qsizetype utf8Length(const unsigned char *text, qsizetype left)
{
    const unsigned char c = text[0];
    const qsizetype length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || length > left)
        return 0;
    for (qsizetype i = 1; i < length; ++i)
        if ((text[i] & 0xC0) != 0x80)
            return 0;
    return QByteArrayView(reinterpret_cast<const char *>(text), length).isValidUtf8() ? length : 0;
}
} // namespace

QByteArray terminalSafe(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    const auto *text = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype at = 0; at < bytes.size();) {
        const unsigned char c = text[at];
        const qsizetype length = utf8Length(text + at, bytes.size() - at);
        // C1 controls are U+0080 to U+009F, in UTF-8 0xC2 0x80 to 0xC2 0x9F.
        const bool control = length == 1 ? (c < 0x20 || c == 0x7F) : length == 2 && c == 0xC2 && text[at + 1] < 0xA0;
        if (length > 0 && !control) {
            out.append(bytes.data() + at, length);
            at += length;
            continue;
        }
        const qsizetype escaped = length > 0 ? length : 1;
        for (qsizetype i = 0; i < escaped; ++i) {
            const unsigned char b = text[at + i];
            if (b == '\n')
                out += "\\n";
            else if (b == '\t')
                out += "\\t";
            else if (b == '\r')
                out += "\\r";
            else
                out += "\\x" + QByteArray::number(b, 16).rightJustified(2, '0');
        }
        at += escaped;
    }
    return out;
}

void ProgressLine::phase(const QByteArray &text)
{
    m_phase = text;
    m_percent = -1;
    draw(true);
}

void ProgressLine::percent(int value)
{
    if (value == m_percent)
        return;
    m_percent = value;
    draw(false);
}

void ProgressLine::clear()
{
    if (m_enabled && m_shown) {
        std::fputs("\r\033[K", stderr);
        m_shown = false;
    }
}

void ProgressLine::draw(bool force)
{
    if (!m_enabled || m_phase.isEmpty())
        return;
    const Clock::time_point now = Clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    QByteArray line = "twinfold-scan: " + terminalSafe(QByteArrayView(m_phase));
    if (m_percent >= 0)
        line += ' ' + QByteArray::number(m_percent) + '%';
    // Long folder names would wrap and break the rewrite: keep the line short.
    if (line.size() > 76)
        line = line.left(36) + "..." + line.right(37);
    std::fprintf(stderr, "\r%s\033[K", line.constData());
    m_shown = true;
}

void message(ProgressLine *progress, const QByteArray &text)
{
    if (progress)
        progress->clear();
    std::fprintf(stderr, "twinfold-scan: %s\n", terminalSafe(QByteArrayView(text)).constData());
}

bool Output::write(QByteArrayView bytes)
{
    if (bytes.isEmpty()) // -e may leave nothing of a group, and fwrite takes no null buffer
        return m_error == 0;
    if (m_progress) {
        m_progress->clear();
        std::fflush(stderr);
    }
    if (m_error == 0
        && std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stdout)
            != static_cast<std::size_t>(bytes.size()))
        m_error = errno ? errno : EIO;
    if (m_progress && m_error == 0 && std::fflush(stdout) != 0)
        m_error = errno ? errno : EIO;
    return m_error == 0;
}

bool Output::finish()
{
    errno = 0;
    if (std::fflush(stdout) != 0 && m_error == 0)
        m_error = errno ? errno : EIO;
    if (std::fclose(stdout) != 0 && m_error == 0)
        m_error = errno ? errno : EIO;
    return m_error == 0;
}

const char *Output::reason() const
{
    return std::strerror(m_error);
}
