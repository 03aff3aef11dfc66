// The CRC engine: catalogue check values, every CRC-32 loop against them and against the
// byte-at-a-time table, the search's fingerprint text, and CalculateFile over several blocks.
// No program calls clsCRC's text and array members; only the timing bench reads files with it.

#include "Crc32.h"
#include "Fingerprint.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "clsCRC.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>

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
};

TWINFOLD_GUILESS_TEST_MAIN(TestCrc)
#include "tst_crc.moc"
