// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>

// Text for a message: control characters (C0, DEL, C1) and bytes that are not UTF-8 become
// escapes (\n, \t, \x1b), so a file's name can neither move the cursor nor retitle the terminal.
QByteArray terminalSafe(QByteArrayView bytes);
inline QByteArray terminalSafe(const QString &text)
{
    return terminalSafe(QByteArrayView(text.toUtf8()));
}

// One line on standard error that is rewritten in place, shown only on a terminal.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) {}

    void phase(const QByteArray &text);
    void percent(int value);
    // Before any other text goes to standard error.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    void draw(bool force);

    bool m_enabled;
    bool m_shown = false;
    QByteArray m_phase;
    int m_percent = -1;
    Clock::time_point m_lastDraw;
};

// "twinfold-scan: " and the text, made safe, on a line of standard error of its own.
void message(ProgressLine *progress, const QByteArray &text);

// Standard output; a failed write stops the search, as there is nobody left to tell.
class Output
{
public:
    // On the terminal that also shows the progress line, rows go out at once, on a line of their own.
    void shareTerminalWith(ProgressLine *progress) { m_progress = progress; }

    bool write(QByteArrayView bytes);
    // Flushes and closes standard output; false (with the reason kept) when anything was lost.
    bool finish();
    bool failed() const { return m_error != 0; }
    const char *reason() const;

private:
    int m_error = 0;
    ProgressLine *m_progress = nullptr;
};
