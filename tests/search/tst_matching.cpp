#include "Crc32.h"
#include "DuplicateMatcher.h"
#include "Fakes.h"
#include "FileSize.h"
#include "MatchingFixture.h"
#include "TestMain.h"

#include <atomic>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ReadOptions)

namespace {

ReadOptions limits(unsigned threads, unsigned maxOpenFiles, std::size_t bufferBytes, std::size_t edgeBlock)
{
    ReadOptions options;
    options.threads = threads;
    options.maxOpenFiles = maxOpenFiles;
    options.bufferBytes = bufferBytes;
    options.edgeBlock = edgeBlock;
    return options;
}

struct Variant
{
    const char *name;
    ReadOptions options;
};

// Each reading strategy: small groups in memory, files compared block by block, and tight
// limits that force signatures, buckets and many small blocks.
const Variant variants[] = {
    {"4 readers", {}},
    {"1 reader", limits(1, 64, 16u << 20, 4096)},
    {"tight", limits(3, 6, 0, 16)},
};

// Keeps every row whole (with the identity the delete command will check) besides the texts.
class RowSink final : public ResultsSink
{
public:
    void clearRows() override { *this = RowSink(); }
    void addRow(const ResultRow &row) override
    {
        texts.addRow(row);
        rows.push_back(row);
    }
    void endGroup() override { texts.endGroup(); }
    std::size_t rowCount() const override { return rows.size(); }
    std::vector<QStringList> groups() const { return texts.groups(); }

    VectorSink texts;
    std::vector<ResultRow> rows;
};

struct Run
{
    DuplicateMatcher::Result read = DuplicateMatcher::Result::Done;
    DuplicateMatcher::Result matched = DuplicateMatcher::Result::Done;
    DuplicateMatcher::Stats stats;
    RowSink sink;
    RecordingHost host;
};

void runMatcher(const CandidateTable &table, const ReadOptions &options, Run &run)
{
    DuplicateMatcher matcher(table, run.host, options);
    run.read = matcher.readFiles();
    if (run.read == DuplicateMatcher::Result::Done)
        run.matched = matcher.matchFiles(run.sink);
    run.stats = matcher.stats();
}

} // namespace

class MatchingTest : public QObject
{
    Q_OBJECT

private slots:
    void groups_data()
    {
        QTest::addColumn<ReadOptions>("options");
        for (const Variant &v : variants)
            QTest::newRow(v.name) << v.options;
    }

    // Groups come in the order of their first file. The same path collected twice (as another
    // spelling of its folder could give) is listed once, and a path alone is never a group. A
    // group's fingerprint is its CRC-32 text; a file of a size no other file has is never read.
    // Empty files form one group, never read; a file whose CRC-32 is 0 is not one of them, nor
    // one that got contents after it was collected.
    void groups()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray first = randomBytes(3000, 1), second = randomBytes(3000, 2), nine = "123456789";
        // Of CRC-32 0 both, and of one size.
        const QByteArray zero = QByteArrayLiteral("zero\x0f\xfb\x07\xc6"),
                         nil = QByteArrayLiteral("nil!\xeb\x91\x43\x55");
        QCOMPARE(crc32::checksum(zero.constData(), std::size_t(zero.size())), 0u);
        const std::pair<const char *, QByteArray> files[] = {
            {"a", first},     {"e1", {}},    {"d", second},  {"sub/b", first},
            {"z", zero},      {"e", second}, {"sub/e2", {}}, {"lone", randomBytes(3000, 4)},
            {"sub/c", first}, {"f", nine},   {"g", nine},    {"h", "987654321"},
            {"odd", "other"}, {"z2", nil},   {"sub/e3", {}}, {"sub/e4", {}}};
        QStringList order;
        for (const auto &[name, contents] : files)
            tree.write(order.emplace_back(QString::fromLatin1(name)), contents);
        CandidateTable table;
        tree.collect(table, order);
        tree.write("sub/e4", "filled since"); // no longer one of them
        for (const std::size_t k : {9, 11})   // f and h once more, under identities never met
            table.addFile(table.file(k).folder, table.nameBytes(k).toByteArray(), table.file(k).size, 0, k + 1);

        Run run;
        DuplicateMatcher matcher(table, run.host, options);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        QCOMPARE(matcher.matchFiles(run.sink), DuplicateMatcher::Result::Done);
        QCOMPARE(
            run.sink.groups(),
            (std::vector<QStringList>{inTree(tree, {"a", "sub/b", "sub/c"}), inTree(tree, {"e1", "sub/e2", "sub/e3"}),
                                      inTree(tree, {"d", "e"}), inTree(tree, {"f", "g"})}));
        QCOMPARE(run.sink.texts.rows[8].sizeText, QStringLiteral("9 Bytes"));
        QCOMPARE(run.sink.texts.rows[3].sizeText, QString());
        for (const ResultRow &row : run.sink.rows) // as read: the delete command checks it
            QCOMPARE(row.identity, identityOf(row.path));
        QCOMPARE(run.host.progress.back(), 100);
        QCOMPARE(matcher.fingerprint(9), QStringLiteral("CBF43926"));
        QCOMPARE(matcher.fingerprint(12), QString());
        QCOMPARE(matcher.fingerprint(1), QStringLiteral("0"));
        QCOMPARE(matcher.fingerprint(4), QString()); // CRC 0, but not empty: never "0" as a group of empties
        QCOMPARE(matcher.stats().filesRead, 13u);    // all but odd and the empty ones, f and h twice
    }

    void contentsDecide_data()
    {
        QTest::addColumn<QByteArray>("one");
        QTest::addColumn<QByteArray>("other");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<ReadOptions>("options");

        // 100 KiB pairs are read whole in memory, 600 KiB pairs side by side, both ends first;
        // under tight limits, by signatures.
        const QByteArray small = randomBytes(40, 8);
        for (const Variant &v : variants) {
            for (const int kib : {100, 600}) {
                const QByteArray base = randomBytes(kib * 1024, 7);
                const auto flipped = [&base](qsizetype at) {
                    QByteArray other = base;
                    other[at] = static_cast<char>(base[at] ^ 0x80);
                    return other;
                };
                const auto row = [&](const char *name, const QByteArray &other, bool listed) {
                    QTest::addRow("%d KiB, %s, %s", kib, name, v.name) << base << other << listed << v.options;
                };
                row("same contents", base, true);
                row("first byte differs", flipped(0), false);
                row("last byte differs", flipped(base.size() - 1), false);
                row("the byte after the first 4 KiB differs", flipped(4096), false);
                row("a middle byte differs", flipped(base.size() / 2 + 3), false);
                row("the byte before the last 4 KiB differs", flipped(base.size() - 4097), false);
                row("equal CRC-32, other bytes", crcNeutralChange(base, 60000), false);
            }
            QTest::addRow("40 bytes, same contents, %s", v.name) << small << small << true << v.options;
            QTest::addRow("40 bytes, equal CRC-32, %s", v.name)
                << small << crcNeutralChange(small, 20) << false << v.options;
        }
    }

    // Names and sizes play no part: only byte-for-byte equal contents are listed together.
    void contentsDecide()
    {
        QFETCH(QByteArray, one);
        QFETCH(QByteArray, other);
        QFETCH(bool, listed);
        QFETCH(ReadOptions, options);
        QCOMPARE(crc32::checksum(one.constData(), std::size_t(one.size()))
                     == crc32::checksum(other.constData(), std::size_t(other.size())),
                 listed || QByteArray(QTest::currentDataTag()).contains("CRC"));

        FileTree tree;
        tree.write("x/photo.jpg", one);
        tree.write("y/photo.jpg", other);
        tree.write("y/notes.txt", randomBytes(one.size(), 99));
        CandidateTable table;
        tree.collect(table, {"x/photo.jpg", "y/notes.txt", "y/photo.jpg"});

        Run run;
        runMatcher(table, options, run);
        QCOMPARE(run.sink.rows.size(), listed ? std::size_t(2) : std::size_t(0));
    }

    void spoiled_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("whileRead");
        QTest::addColumn<bool>("first"); // of its size: in buckets, the file each bucket is read against
        QTest::addColumn<ReadOptions>("options");
        const auto rows = [](bool whileRead, std::initializer_list<const char *> hows) {
            for (const char *how : hows)
                for (int first = 0; first <= int(whileRead); ++first)
                    for (const Variant &v : variants)
                        QTest::addRow("%s %s%s, %s", how, whileRead ? "while read" : "since collected",
                                      first ? ", first of its size" : "", v.name)
                            << QString::fromLatin1(how) << whileRead << bool(first) << v.options;
        };
        rows(false, {"removed", "fifo", "link", "shrunk", "grown", "unreadable"});
        rows(true,
             {"appended", "written in place", "renamed over", "fifo", "removed", "folder replaced", "reader fails"});
    }

    // A file that vanished, changed or cannot be read since it was collected, or that is changed
    // or replaced while it is read, is left out; the search goes on and its copies, and files of
    // other sizes, are still listed. A replacement with equal contents is left out too, as its bytes were never all
    // compared.
    void spoiled()
    {
        QFETCH(QString, how);
        QFETCH(bool, whileRead);
        QFETCH(bool, first);
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray contents = randomBytes(200 * 1024, 41);
        for (const char *name : {"a", "sub/b", "c", "d"})
            QVERIFY(setFileTime(tree.write(name, contents), 1000000000));
        tree.write("x", "another size");
        tree.write("y", "another size");
        CandidateTable table;
        tree.collect(table,
                     first ? QStringList{"sub/b", "a", "x", "c", "y", "d"}
                           : QStringList{"a", "x", "sub/b", "c", "y", "d"});

        const QByteArray b = QFile::encodeName(tree.path("sub/b"));
        const auto spoil = [&](int n) {
            if (how == "reader fails") // as when memory runs out
                throw std::runtime_error("reader failed");
            // Files are opened in their folder's kept descriptor, which still reaches the old
            // files once the folder is renamed away; the path names the new folder's file.
            if (how == "folder replaced")
                return n > 1
                    || (QDir().rename(tree.path("sub"), tree.path("sub-old"))
                        && writeFile(tree.path("sub/b"), randomBytes(200 * 1024, 73)));
            if (how == "appended" || how == "written in place") {
                // In place, the same bytes again: the contents still match, only the change shows.
                const int fd = ::open(b.constData(), O_WRONLY | (how == "appended" ? O_APPEND : 0));
                const bool ok = fd >= 0 && ::pwrite(fd, contents.constData() + 1000, 4, 1000) == 4;
                ::close(fd);
                return ok;
            }
            if (how == "renamed over") {
                const QString copy = tree.path("sub/b") + QString::number(n);
                return writeFile(copy, contents) && setFileTime(copy, 1000000000)
                    && ::rename(QFile::encodeName(copy).constData(), b.constData()) == 0;
            }
            if (::unlink(b.constData()) != 0)
                return false;
            if (how == "fifo")
                return ::mkfifo(b.constData(), 0644) == 0;
            if (how == "link")
                return ::symlink(QFile::encodeName(tree.path("a")).constData(), b.constData()) == 0;
            if (how == "shrunk" || how == "grown")
                return writeFile(tree.path("sub/b"), how == "shrunk" ? contents.chopped(1) : contents + "more");
            // Root reads anything: then an unreadable file is a FIFO's blocked open.
            if (how == "unreadable")
                return ::geteuid() == 0
                    ? ::mkfifo(b.constData(), 0) == 0
                    : writeFile(tree.path("sub/b"), contents) && QFile::setPermissions(tree.path("sub/b"), {});
            return true;
        };
        std::atomic<int> changes{0};
        std::atomic<bool> spoilFailed{false};
        if (whileRead) // every time b is opened, so whichever read the result rests on sees it
            options.afterOpen = [&](const char *path) {
                if (b == path && !spoil(++changes))
                    spoilFailed = true;
            };
        else
            QVERIFY(spoil(0));

        Run run;
        runMatcher(table, options, run);
        QVERIFY(!spoilFailed);
        QCOMPARE(run.matched, DuplicateMatcher::Result::Done);
        if (how == "reader fails") { // its files are left out, counted, never lost without a word
            QCOMPARE(run.sink.groups(), (std::vector<QStringList>{inTree(tree, {"x", "y"})}));
            QCOMPARE(run.stats.failed, 4u);
            return;
        }
        QCOMPARE(run.sink.groups(),
                 (std::vector<QStringList>{inTree(tree, {"a", "c", "d"}), inTree(tree, {"x", "y"})}));
        for (const ResultRow &row : run.sink.rows) // as read: the delete command checks it
            QCOMPARE(row.identity, identityOf(row.path));
        if (!whileRead)
            return;
        QVERIFY(changes > 0);
        // With signatures a file is opened several times: a change seen at a later open (a new
        // length, a vanished file) counts as unreadable, and one that makes the signature differ
        // leaves the file simply unlike the others.
        if (QByteArray(QTest::currentDataTag()).endsWith("tight")) {
            QVERIFY(run.stats.changed + run.stats.unreadable <= 1);
        } else {
            QCOMPARE(run.stats.changed, 1u);
            QCOMPARE(run.stats.unreadable, 0u);
        }
    }

    void stopDuringReading_data()
    {
        QTest::addColumn<unsigned>("readers");
        for (const unsigned readers : {1u, 4u, 64u})
            QTest::addRow("%u readers", readers) << readers;
    }

    // The readers are busy when the stop comes: they stop and join, and no row appears.
    void stopDuringReading()
    {
        QFETCH(unsigned, readers);
        // Same size, same ends and same CRC-32 everywhere: every byte must be compared.
        FileTree tree;
        QStringList order;
        const QByteArray contents = randomBytes(4 << 20, 21);
        for (int i = 0; i < 48; ++i)
            tree.write(order.emplace_back(QStringLiteral("f%1").arg(i)),
                       i % 2 ? contents : crcNeutralChange(contents, 2 << 20));
        CandidateTable table;
        tree.collect(table, order);

        Run run;
        run.host.stopWhen = [&] { return run.host.polls >= 2; };
        runMatcher(table, limits(readers, 64, 1u << 20, 4096), run);
        QCOMPARE(run.read, DuplicateMatcher::Result::Stopped);
        QCOMPARE(run.sink.rowCount(), std::size_t(0));
        QCOMPARE(run.host.polls, 2);
    }

    // The other stop points: after the first file read (a stop pressed while collecting ends the
    // search there even when nothing needs reading), and before a group is listed.
    void stopOutsideReading()
    {
        FileTree tree;
        tree.write("a", "same");
        tree.write("b", "same");
        CandidateTable lone, pair;
        tree.collect(lone, {"a"});
        tree.collect(pair, {"a", "b"});
        RecordingHost host;
        host.stopWhen = [] { return true; };
        QCOMPARE(DuplicateMatcher(lone, host).readFiles(), DuplicateMatcher::Result::Stopped);

        host.stopWhen = nullptr;
        DuplicateMatcher matcher(pair, host);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        host.stopWhen = [] { return true; };
        VectorSink sink;
        QCOMPARE(matcher.matchFiles(sink), DuplicateMatcher::Result::Stopped);
        QCOMPARE(sink.rowCount(), std::size_t(0));
    }

    void formatFileSize()
    {
        const struct
        {
            qint64 size;
            const char *english, *german;
        } rows[] = {{-1, "", ""},
                    {1, "", ""},
                    {2, "2 Bytes", "2 Bytes"},
                    {1023, "1,023 Bytes", "1.023 Bytes"},
                    {1024, "1 KB", "1 KB"},
                    {2560, "3 KB", "3 KB"},
                    {1048575, "1,024 KB", "1.024 KB"},
                    {1048576, "1. MB", "1, MB"},
                    {1101005, "1.05 MB", "1,05 MB"},
                    {1572864, "1.5 MB", "1,5 MB"},
                    {5000000, "4.77 MB", "4,77 MB"},
                    {1073741823, "1,024. MB", "1.024, MB"},
                    {1073741824, "1. GB", "1, GB"},
                    {2147483647, "2. GB", "2, GB"},
                    {5368709120LL, "5. GB", "5, GB"},
                    {1073741824LL * 1500, "1,500. GB", "1.500, GB"}};
        for (const auto &[size, english, german] : rows) {
            QCOMPARE(FormatFileSize(size, QLocale(QLocale::English, QLocale::UnitedStates)),
                     QString::fromUtf8(english));
            QCOMPARE(FormatFileSize(size, QLocale(QLocale::German, QLocale::Germany)), QString::fromUtf8(german));
            // Without a user locale (the tests run under C.UTF-8) sizes are written the English way.
            QCOMPARE(FormatFileSize(size), QString::fromUtf8(english));
        }
    }
};

TWINFOLD_GUILESS_TEST_MAIN(MatchingTest)
#include "tst_matching.moc"
