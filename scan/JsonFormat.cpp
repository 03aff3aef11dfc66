// SPDX-License-Identifier: GPL-2.0-or-later
#include "Console.h"
#include "OutputFormat.h"
#include "ProductInfo.h"

#include <QDateTime>

#include <cstdio>
#include <optional>

#include <sys/stat.h>

namespace {
// Text as a JSON string: quotes, backslashes and control characters escaped, the rest as the
// UTF-8 it is.
QByteArray jsonString(QByteArrayView utf8)
{
    QByteArray out = "\"";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

QByteArray jsonList(const QList<QByteArray> &items)
{
    QByteArray out = "[";
    for (const QByteArray &item : items)
        out += (out.size() > 1 ? ", " : "") + jsonString(item);
    return out + ']';
}

// Modification time as ISO 8601 in UTC with nanoseconds: exact, and sorts as text.
QByteArray isoTime(std::int64_t secondsSinceEpoch, long nanoseconds)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%09ldZ", nanoseconds);
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + fraction;
}

// The time the comparison recorded, else what the path gives now.
std::optional<QByteArray> modificationTime(const GroupFile &file)
{
    if (file.identity.valid)
        return isoTime(file.identity.mtimeSeconds, file.identity.mtimeNanoseconds);
    struct stat st = {};
    if (::lstat(file.path.constData(), &st) != 0)
        return std::nullopt;
    return isoTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

const char *keepName(KeepRule rule)
{
    switch (rule) {
    case KeepRule::Oldest:
        return "oldest";
    case KeepRule::Newest:
        return "newest";
    case KeepRule::ShortestPath:
        return "shortest";
    case KeepRule::FirstListed:
        break;
    }
    return "first";
}

// {"path": ..., "size": ..., "mtime": ...}; the exact bytes in base64 as well where they are not UTF-8.
QByteArray fileObject(const GroupFile &file, const QByteArray &size, bool withTime = true)
{
    QByteArray out = "{\"path\": ";
    if (QByteArrayView(file.path).isValidUtf8()) {
        out += jsonString(file.path);
    } else {
        // Shown with U+FFFD for people; the exact bytes in base64 for programs.
        out += jsonString(QString::fromUtf8(file.path).toUtf8()) + ", \"path_bytes\": \"" + file.path.toBase64() + '"';
    }
    if (!size.isEmpty())
        out += ", \"size\": " + size;
    if (withTime) {
        const std::optional<QByteArray> time = modificationTime(file);
        out += ", \"mtime\": " + (time ? '"' + *time + '"' : QByteArray("null"));
    }
    return out + '}';
}

class JsonFormat final : public OutputFormat
{
public:
    explicit JsonFormat(Output &output) : m_output(output) {}

    void header(const ScanOptions &options) override
    {
        QList<QByteArray> folders;
        for (const QString &folder : options.folders)
            folders << folder.toUtf8();
        const FileFilter &filter = options.filter;
        const bool bounded = filter.maxSize < std::numeric_limits<std::int64_t>::max();
        m_output.write(
            "{\"program\": \"twinfold-scan\", \"version\": \"" TWINFOLD_PRODUCT_VERSION "\",\n"
            " \"folders\": "
            + jsonList(folders) + ",\n \"options\": {\"omit_first\": " + (options.omitFirst ? "true" : "false")
            + ", \"keep\": \"" + keepName(options.keep) + "\", \"keep_under\": " + jsonList(options.keepUnder)
            + ", \"min_size\": " + QByteArray::number(filter.minSize)
            + ", \"max_size\": " + (bounded ? QByteArray::number(filter.maxSize) : QByteArray("null"))
            + ", \"exclude\": " + jsonList(filter.excludes()) + ", \"unique_in\": " + jsonList(options.uniqueIn)
            + (options.uniqueIn.isEmpty() ? "},\n \"groups\": [" : "},\n \"unique\": ["));
    }

    void group(std::int64_t size, const std::vector<GroupFile> &files) override
    {
        if (files.empty())
            return;
        QByteArray out = (m_groups++ ? ",\n" : "\n") + QByteArray("  {\"size\": ") + QByteArray::number(size)
            + ", \"files\": [";
        for (std::size_t i = 0; i < files.size(); ++i)
            out += (i ? ", " : "") + fileObject(files[i], {});
        m_output.write(out + "]}");
    }

    // The unique list stands where the groups would; the footer closes the unreadable list.
    void uniqueFiles(const std::vector<GroupFile> &files, const std::vector<QByteArray> &unreadable) override
    {
        QByteArray out;
        for (std::size_t i = 0; i < files.size(); ++i)
            out += (i ? ",\n  " : "\n  ") + fileObject(files[i], QByteArray::number(files[i].identity.size));
        out += QByteArray(files.empty() ? "" : "\n") + "],\n \"could_not_be_read\": [";
        for (std::size_t i = 0; i < unreadable.size(); ++i)
            out += (i ? ", " : "") + fileObject(GroupFile{unreadable[i], {}}, {}, false);
        m_output.write(out);
    }

    void footer(const ScanCounts &counts, bool complete) override
    {
        const auto n = [](std::uint64_t value) { return QByteArray::number(static_cast<qulonglong>(value)); };
        m_output.write(
            QByteArray(m_groups ? "\n" : "") + "],\n \"summary\": {\"files_collected\": " + n(counts.collected)
            + ", \"files_read\": " + n(counts.filesRead) + ", \"bytes_read\": " + n(counts.bytesRead)
            + ", \"groups\": " + n(counts.groups) + ", \"files_in_groups\": " + n(counts.filesInGroups)
            + ", \"extra_copies\": " + n(counts.filesInGroups - counts.groups) + ",\n  \"left_out\": {\"by_options\": "
            + n(counts.leftOutByOptions) + ", \"unreadable\": " + n(counts.unreadable)
            + ", \"changed_while_read\": " + n(counts.changed) + ", \"reader_failed\": " + n(counts.failed)
            + ", \"folders_while_collecting\": " + n(counts.foldersLeftOut) + ", \"files_while_collecting\": "
            + n(counts.filesLeftOut) + "}},\n \"complete\": " + (complete ? "true" : "false") + "}\n");
    }

private:
    Output &m_output;
    std::size_t m_groups = 0;
};
} // namespace

std::unique_ptr<OutputFormat> makeJsonFormat(Output &output)
{
    return std::make_unique<JsonFormat>(output);
}
