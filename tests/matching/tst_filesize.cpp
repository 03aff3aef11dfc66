#include "FileSize.h"
#include "MatchingFixture.h"
#include "TestMain.h"

#include <sys/stat.h>

class FileSizeTest : public QObject
{
    Q_OBJECT

private slots:
    void formatFileSize_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("german");
        const auto row = [](qint64 size, const char *english, const char *german) {
            QTest::addRow("%lld", static_cast<long long>(size))
                << size << QString::fromUtf8(english) << QString::fromUtf8(german);
        };
        row(-1, "", "");
        row(-2147483648LL, "", "");
        row(0, "", "");
        row(1, "", "");
        row(2, "2 Bytes", "2 Bytes");
        row(1023, "1,023 Bytes", "1.023 Bytes");
        row(1024, "1 KB", "1 KB");
        row(1536, "2 KB", "2 KB");
        row(2560, "3 KB", "3 KB");
        row(1048575, "1,024 KB", "1.024 KB");
        row(1048576, "1. MB", "1, MB");
        row(1572864, "1.5 MB", "1,5 MB");
        row(5000000, "4.77 MB", "4,77 MB");
        row(1073741823, "1,024. MB", "1.024, MB");
        row(1073741824, "1. GB", "1, GB");
        row(1610612736, "1.5 GB", "1,5 GB");
        row(2147483647, "2. GB", "2, GB");
        row(5368709120LL, "5. GB", "5, GB");
        row(1073741824LL * 1500, "1,500. GB", "1.500, GB");
    }

    void formatFileSize()
    {
        QFETCH(qint64, size);
        QFETCH(QString, english);
        QFETCH(QString, german);
        QCOMPARE(FormatFileSize(size, QLocale(QLocale::English, QLocale::UnitedStates)), english);
        QCOMPARE(FormatFileSize(size, QLocale(QLocale::German, QLocale::Germany)), german);
    }

    // Without a user locale (the tests run under C.UTF-8) sizes are written the English way.
    void userLocaleFallsBackToEnglish()
    {
        QCOMPARE(FormatFileSize(1023), QStringLiteral("1,023 Bytes"));
    }

    void fileSize2()
    {
        FileTree tree;
        QCOMPARE(FileSize2(tree.write("photo.jpg", QByteArray(1536, 'x'))), qint64(1536));
        QCOMPARE(FileSize2(tree.write("empty", {})), qint64(0));
        QCOMPARE(FileSize2(tree.path("missing")), qint64(-1));
        QCOMPARE(FileSize2(tree.root()), qint64(-1));
        QCOMPARE(FileSize2(QString()), qint64(-1));
        QCOMPARE(::mkfifo(QFile::encodeName(tree.path("fifo")).constData(), 0644), 0);
        QCOMPARE(FileSize2(tree.path("fifo")), qint64(-1)); // no hang on a FIFO

        // A sparse file above 4 GiB keeps its whole size.
        QFile big(tree.path("big.iso"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(5368709120LL));
        big.close();
        QCOMPARE(FileSize2(tree.path("big.iso")), qint64(5368709120LL));
        QCOMPARE(FormatFileSize(FileSize2(tree.path("big.iso"))), QStringLiteral("5. GB"));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(FileSizeTest)
#include "tst_filesize.moc"
