// The CRC engine: catalogue check values, every CRC-32 loop against them and against the
// byte-at-a-time table, the search's fingerprint text, and CalculateFile over several blocks and
// on files it must not read.

#include "Crc32.h"
#include "Fingerprint.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "clsCRC.h"

#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(crc32::Path)

namespace {
// Reproducible bytes: the same size and seed give the same contents.
std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::int32_t number(const CrcResult &result)
{
    return std::holds_alternative<std::int32_t>(result) ? std::get<std::int32_t>(result) : 0x7EADBEEF;
}
} // namespace

class TestCrc : public QObject
{
    Q_OBJECT

private slots:
    // CRC-16/XMODEM, which clsCRC runs, against its catalogue check value.
    void crc16CheckValue()
    {
        QCOMPARE(crc16::update(0, crc16::makeTable(), reinterpret_cast<const std::uint8_t *>("123456789"), 9), 0x31C3u);
    }

    // The class's own check values, whole and in two pieces.
    void checkValues_data()
    {
        QTest::addColumn<int>("algorithm");
        QTest::addColumn<int>("value");
        QTest::newRow("CRC-32") << 1 << -873187034;
        QTest::newRow("CRC-32 by True") << -1 << -873187034;
        QTest::newRow("CRC-16") << 0 << 12739;
    }
    void checkValues()
    {
        QFETCH(int, algorithm);
        QFETCH(int, value);
        clsCRC crc;
        crc.Algorithm(algorithm);
        QCOMPARE(number(crc.CalculateString("123456789")), value);
        crc.Clear();
        crc.AddString("12");
        QCOMPARE(number(crc.AddString("3456789")), value);
        QCOMPARE(number(crc.Value()), value);
    }

    void loops_data()
    {
        QTest::addColumn<crc32::Path>("path");
        for (const crc32::Path path :
             {crc32::Path::Table, crc32::Path::Slicing8, crc32::Path::Pclmul, crc32::Path::VpclmulAvx2})
            QTest::newRow(crc32::pathName(path)) << path;
    }
    // Every length up to 4 KiB (sixteen turns of the widest loop) at 64 alignments, each from
    // another register; no loop treats a longer buffer differently.
    void loops()
    {
        QFETCH(crc32::Path, path);
        if (!crc32::supported(path))
            QSKIP("not supported by this processor");
        QCOMPARE(~crc32::updateWith(path, 0xFFFFFFFFu, reinterpret_cast<const std::uint8_t *>("123456789"), 9),
                 0xCBF43926u);
        const std::vector<std::uint8_t> data = randomBytes(4096 + 64, 1);
        std::vector<std::uint32_t> expected(4097);
        for (std::size_t offset = 0; offset < 64; ++offset) {
            const std::uint8_t *start = data.data() + offset;
            expected[0] = 0xFFFFFFFFu - std::uint32_t(offset) * 0x01010101u;
            for (std::size_t n = 1; n <= 4096; ++n)
                expected[n] = crc32::updatePortable(expected[n - 1], start + n - 1, 1);
            for (std::size_t n = 0; n <= 4096; ++n)
                if (crc32::updateWith(path, expected[0], start, n) != expected[n])
                    QFAIL(qPrintable(QStringLiteral("length %1 at offset %2").arg(n).arg(offset)));
        }
        QCOMPARE(crc32::checksum("123456789", 9), 0xCBF43926u); // the loop this machine uses
    }

    void fingerprints_data()
    {
        QTest::addColumn<int>("crc");
        QTest::addColumn<QString>("text");
        QTest::newRow("positive") << 891568578 << "352441C2";
        QTest::newRow("negative") << -873187034 << "CBF43926";
        QTest::newRow("no leading zeros") << 255 << "FF";
        QTest::newRow("zero") << 0 << "0";
        QTest::newRow("lowest") << std::numeric_limits<std::int32_t>::min() << "80000000";
    }
    void fingerprints()
    {
        QFETCH(int, crc);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(fingerprintText(std::uint32_t(crc))), text);
    }

    // A value given as text is read as a conversion to a whole number reads it: blanks around it
    // and halves to the even neighbour; what is no 32-bit number is an error.
    void valueFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fingerprint"); // or the error's number
        // clang-format off
        QTest::newRow("a half, down to even") << QStringLiteral("2.5") << QStringLiteral("2");
        QTest::newRow("a half, up to even") << QStringLiteral("3.5") << QStringLiteral("4");
        QTest::newRow("past a half") << QStringLiteral("2.501") << QStringLiteral("3");
        QTest::newRow("under a half") << QStringLiteral("7.49") << QStringLiteral("7");
        QTest::newRow("blanks and a sign") << QStringLiteral(" -1\t") << QStringLiteral("FFFFFFFF");
        QTest::newRow("lowest") << QStringLiteral("-2147483648") << QStringLiteral("80000000");
        QTest::newRow("not a number") << QStringLiteral("12x") << QStringLiteral("error 13");
        QTest::newRow("too large") << QStringLiteral("2147483648") << QStringLiteral("error 6");
        // clang-format on
    }
    void valueFromText()
    {
        QFETCH(QString, text);
        QFETCH(QString, fingerprint);
        QString got;
        try {
            got = QString::fromStdString(fingerprintText(CrcResult{text.toStdString()}));
        } catch (const CrcError &error) {
            got = QStringLiteral("error %1").arg(error.number());
        }
        QCOMPARE(got, fingerprint);
    }

    // Text is checksummed as the Windows-1252 bytes it stands for, '?' where there is none.
    void textAsWindows1252_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no-break space, e acute") << QByteArray("\xC2\xA0\xC3\xA9") << QByteArray("\xA0\xE9");
        QTest::newRow("euro sign, a C1 control") << QByteArray("\xE2\x82\xAC\xC2\x81") << QByteArray("\x80\x81");
        QTest::newRow("no such byte") << QByteArray("\xC4\x80") << QByteArray("?");
        QTest::newRow("cut short") << QByteArray("a\xC3") << QByteArray("a?");
    }
    void textAsWindows1252()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QByteArray, bytes);
        clsCRC crc;
        const std::int32_t fromText = number(crc.CalculateString(utf8.toStdString()));
        QCOMPARE(fromText,
                 number(crc.CalculateBytes(CrcByteArray::of(std::vector<std::uint8_t>(bytes.begin(), bytes.end())))));
    }

    // Sizes around the read block, in both algorithms, from registers left over.
    void calculateFile_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : {1, (128 << 10) - 1, 1 << 20, (1 << 20) + 1})
            QTest::addRow("%d bytes", size) << size;
    }
    void calculateFile()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const std::vector<std::uint8_t> bytes = randomBytes(std::size_t(size), 1);
        QVERIFY(writeFile(dir.filePath("data"), QByteArray(reinterpret_cast<const char *>(bytes.data()), size)));
        for (const int algorithm : {1, 0}) {
            clsCRC crc;
            int pumps = 0;
            crc.setEventPump([&] { ++pumps; });
            crc.Algorithm(algorithm);
            const CrcResult expected = crc.CalculateBytes(CrcByteArray::of(bytes));
            crc.AddString("left over");
            QVERIFY(crc.CalculateFile(dir.filePath("data").toStdString()) == expected);
            QVERIFY(crc.Value() == expected);
            QCOMPARE(pumps, 1);
        }
    }

    // Nothing to read: an empty file has no fingerprint, a missing one is an error, and a FIFO is
    // never opened for reading, where it would wait for a writer for ever.
    void calculateFileFallbacks()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("empty"), {}));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600), 0);
        clsCRC crc;
        QVERIFY(std::holds_alternative<std::monostate>(crc.CalculateFile(dir.filePath("empty").toStdString())));
        int error = 0;
        try {
            crc.CalculateFile(dir.filePath("not there").toStdString());
        } catch (const CrcError &thrown) {
            error = thrown.number();
        }
        QCOMPARE(error, 53);
        const std::string fifo = dir.filePath("pipe").toStdString();
        auto pipe = std::async(std::launch::async, [&fifo] { return clsCRC().CalculateFile(fifo); });
        if (pipe.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // lets a blocked reader end
            QFAIL("CalculateFile blocked on a FIFO");
        }
        QCOMPARE(fingerprintText(pipe.get()), std::string("0"));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestCrc)
#include "tst_crc.moc"
