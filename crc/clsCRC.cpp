#include "clsCRC.h"

#include "Crc32.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files are read in blocks of this size through one buffer per engine, so memory stays flat
// whatever the file's size; small enough that the checksum finds each block still in the cache.
constexpr std::size_t kReadBlock = std::size_t(128) << 10;
// Page-aligned: the kernel copies into a misaligned buffer several times slower on some CPUs.
constexpr std::align_val_t kReadAlignment{4096};

const std::string kReadFailure = "00000000";

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Windows-1252 bytes 0x80 to 0x9F, by the code point they stand for (0 where the byte is unassigned
// and stands for the C1 control of the same value).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::uint8_t toCp1252(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<std::uint8_t>(cp);
    for (std::size_t i = 0; i < 32; ++i) {
        const char32_t mapped = kCp1252High[i] != 0 ? kCp1252High[i] : char32_t(0x80 + i);
        if (mapped == cp)
            return static_cast<std::uint8_t>(0x80 + i);
    }
    return '?';
}

// UTF-8 to Windows-1252; every byte of a malformed sequence becomes '?'.
std::vector<std::uint8_t> ansiBytes(const std::string &text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size());
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
            minimum = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u)
                valid = false;
            else
                cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(toCp1252(cp));
        i += length;
    }
    return out;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::int32_t crcTextToInt32(const std::string &text)
{
    const CrcError mismatch(CrcError::Kind::TypeMismatch, "Type mismatch");
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && isBlank(text[i]))
        ++i;
    while (end > i && isBlank(text[end - 1]))
        --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Magnitudes are capped just above the 32-bit range so long texts cannot wrap around.
    constexpr std::uint64_t kCap = std::uint64_t(1) << 33;
    std::uint64_t whole = 0;
    std::size_t digits = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        whole = std::min(kCap, whole * 10 + std::uint64_t(text[i] - '0'));
    int firstFraction = -1;
    bool restNonZero = false;
    if (i < end && text[i] == '.') {
        for (++i; i < end && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (firstFraction < 0)
                firstFraction = text[i] - '0';
            else if (text[i] != '0')
                restNonZero = true;
        }
    }
    if (digits == 0 || i != end)
        throw mismatch;
    // Rounded half to even, as a conversion to a whole number does.
    if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || whole % 2 == 1)))
        whole = std::min(kCap, whole + 1);
    const std::int64_t value = negative ? -std::int64_t(whole) : std::int64_t(whole);
    if (!std::in_range<std::int32_t>(value))
        throw CrcError(CrcError::Kind::Overflow, "Overflow");
    return static_cast<std::int32_t>(value);
}

clsCRC::clsCRC()
{
    Algorithm(1);
}

clsCRC::~clsCRC() = default;

void clsCRC::prepare16()
{
    m_table16 = crc16::makeTable();
    m_ready16 = true;
}

void clsCRC::prepare32()
{
    m_table32 = crc32::Table32;
    m_ready32 = true;
}

void clsCRC::Algorithm(std::int32_t newValue)
{
    m_is32Bit = newValue != 0;
    if (m_is32Bit && !m_ready32)
        prepare32();
    if (!m_is32Bit && !m_ready16)
        prepare16();
    Clear();
}

std::int32_t clsCRC::Algorithm() const
{
    return m_is32Bit ? -1 : 0;
}

void clsCRC::Clear()
{
    m_register16 = 0;
    m_register32 = 0xFFFFFFFFu;
}

void clsCRC::feed(const std::uint8_t *data, std::size_t size)
{
    if (m_is32Bit)
        m_register32 = crc32::update(m_register32, data, size);
    else
        m_register16 = crc16::update(m_register16, m_table16, data, size);
}

CrcResult clsCRC::AddBytes(const CrcByteArray &byteArray)
{
    if (!byteArray.lowerBound)
        return Value();
    if (byteArray.elements.empty())
        throw CrcError(CrcError::Kind::SubscriptOutOfRange, "Subscript out of range");
    feed(byteArray.elements.data(), byteArray.elements.size());
    return Value();
}

CrcResult clsCRC::AddString(const std::string &text)
{
    if (text.empty())
        return Value();
    return AddBytes(CrcByteArray::of(ansiBytes(text)));
}

CrcResult clsCRC::CalculateBytes(const CrcByteArray &byteArray)
{
    Clear();
    return AddBytes(byteArray);
}

CrcResult clsCRC::CalculateString(const std::string &text)
{
    Clear();
    return AddString(text);
}

CrcResult clsCRC::Value() const
{
    if (m_is32Bit)
        return static_cast<std::int32_t>(~m_register32);
    return static_cast<std::int32_t>(m_register16 & 0xFFFFu);
}

void clsCRC::storeValue(std::int32_t value)
{
    if (m_is32Bit)
        m_register32 = static_cast<std::uint32_t>(value);
    else
        m_register16 = static_cast<std::uint32_t>(value);
}

void clsCRC::Value(const CrcResult &newValue)
{
    if (std::holds_alternative<std::monostate>(newValue))
        storeValue(0);
    else if (const auto *number = std::get_if<std::int32_t>(&newValue))
        storeValue(*number);
    else
        storeValue(crcTextToInt32(std::get<std::string>(newValue)));
}

void clsCRC::Value(double newValue)
{
    const double rounded = std::nearbyint(newValue);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        throw CrcError(CrcError::Kind::Overflow, "Overflow");
    storeValue(static_cast<std::int32_t>(rounded));
}

void clsCRC::AlignedDelete::operator()(std::uint8_t *block) const
{
    ::operator delete(block, kReadAlignment);
}

void clsCRC::setEventPump(std::function<void()> pump)
{
    m_pumpEvents = std::move(pump);
}

CrcResult clsCRC::CalculateFile(const std::string &filename)
{
    struct stat info = {};
    if (::stat(filename.c_str(), &info) != 0) {
        const int error = errno;
        throw CrcError(CrcError::Kind::FileNotFound, "File not found: " + filename + " (" + std::strerror(error) + ")");
    }
    if (info.st_size == 0)
        return std::monostate{};

    if (m_pumpEvents)
        m_pumpEvents();

    // Only regular files are read: a FIFO or a device could block or never end. O_NONBLOCK keeps
    // the open itself from waiting should the name have turned into a FIFO since the stat.
    if (!S_ISREG(info.st_mode))
        return kReadFailure;
    FileDescriptor file(::open(filename.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0)
        return kReadFailure;
    struct stat opened = {};
    if (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return kReadFailure;
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    if (!m_readBuffer) {
        m_readBuffer.reset(static_cast<std::uint8_t *>(::operator new(kReadBlock, kReadAlignment, std::nothrow)));
        if (!m_readBuffer)
            return kReadFailure;
    }

    // Accumulate aside, so a read failure leaves the registers as they were.
    std::uint32_t register16 = 0;
    std::uint32_t register32 = 0xFFFFFFFFu;
    for (;;) {
        const ssize_t got = ::read(file.get(), m_readBuffer.get(), kReadBlock);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return kReadFailure;
        }
        if (got == 0)
            break;
        const auto size = static_cast<std::size_t>(got);
        if (m_is32Bit)
            register32 = crc32::update(register32, m_readBuffer.get(), size);
        else
            register16 = crc16::update(register16, m_table16, m_readBuffer.get(), size);
    }
    m_register16 = register16;
    m_register32 = register32;
    return Value();
}
