#include "FileSize.h"

#include "UserLocale.h"

#include <QFile>

#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::int64_t FileSize2(const QString &path)
{
    if (path.isEmpty())
        return -1;
    // O_NONBLOCK keeps a FIFO from blocking the open; only plain files have a size here.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st = {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return ok ? static_cast<std::int64_t>(st.st_size) : -1;
}

namespace {

// Digits of a non-negative whole number with a separator every three digits; "" for 0,
// as the "#,###" pattern writes it.
QString groupedDigits(std::uint64_t value, const QString &separator)
{
    if (value == 0)
        return {};
    const QString digits = QString::number(value);
    QString out;
    out.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += separator;
        out += digits.at(i);
    }
    return out;
}

// "#,###": whole number, halves away from zero.
QString wholePattern(double value, const QLocale &locale)
{
    return groupedDigits(static_cast<std::uint64_t>(std::round(value)), locale.groupSeparator());
}

// "#,###.##": the decimal separator always, then up to two decimals without trailing zeros.
QString twoDecimalPattern(double value, const QLocale &locale)
{
    const auto hundredths = static_cast<std::uint64_t>(std::round(value * 100.0));
    QString text = groupedDigits(hundredths / 100, locale.groupSeparator()) + locale.decimalPoint();
    const std::uint64_t fraction = hundredths % 100;
    if (fraction % 10 != 0)
        text += QString::number(fraction).rightJustified(2, QLatin1Char('0'));
    else if (fraction != 0)
        text += QString::number(fraction / 10);
    return text;
}

} // namespace

QString FormatFileSize(std::int64_t size)
{
    return FormatFileSize(size, userLocale());
}

QString FormatFileSize(std::int64_t size, const QLocale &locale)
{
    constexpr std::int64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
    const auto s = static_cast<double>(size);
    if (size > 1 && size < KB)
        return wholePattern(s, locale) + QStringLiteral(" Bytes");
    if (size >= KB && size < MB)
        return wholePattern(s / KB, locale) + QStringLiteral(" KB");
    if (size >= MB && size < GB)
        return twoDecimalPattern(s / MB, locale) + QStringLiteral(" MB");
    if (size >= GB)
        return twoDecimalPattern(s / GB, locale) + QStringLiteral(" GB");
    return {};
}
