// SPDX-License-Identifier: GPL-2.0-or-later
#include "Console.h"
#include "OutputFormat.h"

namespace {
class TextFormat final : public OutputFormat
{
public:
    TextFormat(Output &output, char terminator, bool flat) : m_output(output), m_end(terminator), m_flat(flat) {}

    void group(std::int64_t, const std::vector<GroupFile> &files) override
    {
        QByteArray text;
        for (const GroupFile &file : files)
            text += file.path + m_end;
        if (!m_flat)
            text += m_end;
        m_output.write(text);
    }

    void uniqueFiles(const std::vector<GroupFile> &files, const std::vector<QByteArray> &unreadable) override
    {
        QByteArray text;
        for (const GroupFile &file : files)
            text += file.path + m_end;
        m_output.write(text);
        for (const QByteArray &path : unreadable)
            message(nullptr, "could not be read: " + path);
    }

private:
    Output &m_output;
    char m_end;
    bool m_flat;
};
} // namespace

std::unique_ptr<OutputFormat> makeTextFormat(Output &output, char terminator, bool flat)
{
    return std::make_unique<TextFormat>(output, terminator, flat);
}
