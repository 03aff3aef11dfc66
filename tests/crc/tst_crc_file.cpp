// CalculateFile on real files: sizes around the read block, empty, missing, unreadable, links,
// FIFOs and a sparse file past 4 GiB.

#include "CrcTestSupport.h"
#include "Fingerprint.h"
#include "clsCRC.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class TempDir
{
public:
    TempDir() { EXPECT_TRUE(m_dir.isValid()); }
    std::string path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)).toStdString(); }
    std::string root() const { return m_dir.path().toStdString(); }

private:
    QTemporaryDir m_dir;
};

void writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    ASSERT_EQ(std::fclose(file), 0);
}

class CalculateFileSizes : public testing::TestWithParam<std::size_t>
{};

TEST_P(CalculateFileSizes, SameAsTheBytesInBothAlgorithms)
{
    TempDir dir;
    const std::string path = dir.path("data.bin");
    const std::vector<std::uint8_t> bytes = randomBytes(GetParam(), 1);
    writeFile(path, bytes);

    for (const std::int32_t algorithm : {1, 0}) {
        clsCRC crc;
        int pumps = 0;
        crc.setEventPump([&] { ++pumps; });
        crc.Algorithm(algorithm);
        const CrcResult expected = crc.CalculateBytes(CrcByteArray::of(bytes));
        crc.AddString("left over"); // the file's CRC starts from reset registers
        EXPECT_EQ(crc.CalculateFile(path), expected) << "algorithm " << algorithm;
        EXPECT_EQ(crc.Value(), expected);
        EXPECT_EQ(pumps, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AroundTheReadBlock, CalculateFileSizes,
                         testing::Values(std::size_t(1), (std::size_t(128) << 10) - 1, std::size_t(1) << 20,
                                         (std::size_t(1) << 20) + 1));

TEST(CalculateFile, EmptyFileGivesTheEmptyResultUntouched)
{
    TempDir dir;
    const std::string path = dir.path("empty");
    writeFile(path, {});
    clsCRC crc;
    int pumps = 0;
    crc.setEventPump([&] { ++pumps; });
    crc.Value(41);
    const CrcResult result = crc.CalculateFile(path);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
    EXPECT_EQ(fingerprintText(result), "0");
    EXPECT_EQ(crc.Value(), CrcResult(~41));
    EXPECT_EQ(pumps, 0);
}

TEST(CalculateFile, MissingFileIsAFileError)
{
    TempDir dir;
    clsCRC crc;
    int pumps = 0;
    crc.setEventPump([&] { ++pumps; });
    try {
        crc.CalculateFile(dir.path("not there"));
        ADD_FAILURE() << "no error";
    } catch (const CrcError &error) {
        EXPECT_EQ(error.kind(), CrcError::Kind::FileNotFound);
        EXPECT_EQ(error.number(), 53);
    }
    EXPECT_EQ(pumps, 0);
}

TEST(CalculateFile, UnreadableFileGivesTheFailureText)
{
    TempDir dir;
    const std::string path = dir.path("secret");
    writeFile(path, {'a', 'b', 'c'});
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.root().c_str(), 0755), 0);
    // Root reads anything, so the reading happens in a child that sees what a user sees.
    // Exit 0: the failure text with the registers kept; 3: cannot drop root.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t nobody = 65534;
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
                || ::setresuid(nobody, nobody, nobody) != 0))
            ::_exit(3);
        ::alarm(30); // a read that hangs ends the child, so the wait below is bounded
        try {
            clsCRC crc;
            crc.Value(41);
            const CrcResult result = crc.CalculateFile(path);
            ::_exit(isReadFailure(result) && crc.Value() == CrcResult(~41) ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child did not finish";
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CalculateFile, FifoReturnsWithoutBlocking)
{
    TempDir dir;
    const std::string path = dir.path("pipe");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [path] {
        clsCRC crc;
        return crc.CalculateFile(path);
    });
    if (pending.wait_for(10s) != std::future_status::ready) {
        // Give a blocked reader its end of file so the test can finish.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        FAIL() << "CalculateFile blocked on a FIFO";
    }
    const CrcResult result = pending.get();
    EXPECT_EQ(fingerprintText(result), "0");
}

TEST(CalculateFile, SparseFilePastFourGiB)
{
    TempDir dir;
    const std::string path = dir.path("sparse");
    const std::uint64_t size = (std::uint64_t(1) << 32) + 4099;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const auto put = [fd](std::uint64_t offset, const char *text) {
            const std::size_t length = std::strlen(text);
            return ::pwrite(fd, text, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
        };
        // Pieces on both sides of the 2 GiB and 4 GiB marks and at the very end.
        EXPECT_TRUE(put(0, "Twinfold"));
        EXPECT_TRUE(put((std::uint64_t(1) << 31) - 3, "sparse"));
        EXPECT_TRUE(put((std::uint64_t(1) << 32) - 2, "four"));
        EXPECT_TRUE(put(size - 3, "end"));
        ::close(fd);
    }
    clsCRC crc;
    // Computed once with Python's zlib.crc32 over the same layout.
    EXPECT_EQ(fingerprintText(crc.CalculateFile(path)), "B2404E7D");
}

} // namespace
