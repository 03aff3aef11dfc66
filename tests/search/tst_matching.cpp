#include "DuplicateMatcher.h"
#include "Fakes.h"
#include "FileSize.h"
#include "MatchingFixture.h"
#include "TestMain.h"

#include <atomic>
#include <map>
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
    void clearRows() override
    {
        texts.clearRows();
        rows.clear();
    }
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

// One row per case and reading strategy.
void variantRows(std::initializer_list<const char *> cases)
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<ReadOptions>("options");
    for (const char *how : cases)
        for (const Variant &v : variants)
            QTest::addRow("%s, %s", how, v.name) << QString::fromLatin1(how) << v.options;
}

void runMatcher(const CandidateTable &table, const ReadOptions &options, Run &run)
{
    DuplicateMatcher matcher(table, run.host, options);
    run.read = matcher.readFiles();
    if (run.read == DuplicateMatcher::Result::Done)
        run.matched = matcher.matchFiles(run.sink);
    run.stats = matcher.stats();
}

QStringList names(const FileTree &tree, const QStringList &relative)
{
    QStringList full;
    for (const QString &r : relative)
        full << tree.path(r);
    return full;
}

// The groups a correct search must find: files of equal bytes, in collection order.
std::vector<QStringList> expectedGroups(const CandidateTable &table)
{
    std::map<QByteArray, QStringList> byContents;
    std::vector<QByteArray> order;
    for (std::size_t k = 0; k < table.count(); ++k) {
        QFile file(table.path(k));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray contents = file.readAll();
        QStringList &group = byContents[contents];
        if (group.isEmpty())
            order.push_back(contents);
        group << table.path(k);
    }
    std::vector<QStringList> groups;
    for (const QByteArray &contents : order)
        if (byContents[contents].size() >= 2)
            groups.push_back(byContents[contents]);
    return groups;
}

} // namespace

class MatchingTest : public QObject
{
    Q_OBJECT

private slots:
    void groupOrder()
    {
        FileTree tree;
        const QByteArray first = randomBytes(3000, 1), second = randomBytes(3000, 2), third = randomBytes(70, 3);
        tree.write("a", first);
        tree.write("d", second);
        tree.write("sub/b", first);
        tree.write("e", second);
        tree.write("sub/c", first);
        tree.write("f", third);
        tree.write("g", third);
        tree.write("lone", randomBytes(3000, 4));
        CandidateTable table;
        tree.collect(table, {"a", "d", "sub/b", "e", "lone", "sub/c", "f", "g"});

        Run run;
        runMatcher(table, {}, run);
        QCOMPARE(run.matched, DuplicateMatcher::Result::Done);
        QCOMPARE(run.sink.groups(),
                 (std::vector<QStringList>{names(tree, {"a", "sub/b", "sub/c"}), names(tree, {"d", "e"}),
                                           names(tree, {"f", "g"})}));
        QCOMPARE(run.sink.texts.rows[5].sizeText, QStringLiteral("70 Bytes"));
        QCOMPARE(run.host.progress.back(), 100);
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
        QCOMPARE(one.size(), other.size());
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

    void emptyFilesAndCrcZero_data() { variantRows({"empty files"}); }

    // Empty files form one group; a file whose CRC-32 is 0 is not one of them, nor one that got
    // contents after it was collected.
    void emptyFilesAndCrcZero()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray zero = forceCrc(randomBytes(60, 5), 0);
        QCOMPARE(crc32::checksum(zero.constData(), std::size_t(zero.size())), 0u);
        tree.write("e1", {});
        tree.write("z", zero);
        tree.write("sub/e2", {});
        tree.write("sub/e3", {});
        tree.write("z2", forceCrc(randomBytes(60, 6), 0));
        tree.write("sub/e4", {});
        CandidateTable table;
        tree.collect(table, {"e1", "z", "sub/e2", "z2", "sub/e3", "sub/e4"});
        tree.write("sub/e4", "filled since"); // no longer one of them

        Run run;
        DuplicateMatcher matcher(table, run.host, options);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        QCOMPARE(matcher.matchFiles(run.sink), DuplicateMatcher::Result::Done);
        QCOMPARE(run.sink.groups(), (std::vector<QStringList>{names(tree, {"e1", "sub/e2", "sub/e3"})}));
        QCOMPARE(run.sink.texts.rows[0].sizeText, QString());
        QCOMPARE(matcher.fingerprint(0), QStringLiteral("0"));
        QCOMPARE(matcher.fingerprint(1), QString()); // CRC 0, but not empty: never "0" as a group of empties
        QCOMPARE(matcher.stats().filesRead, 2u);     // the two CRC-zero files, never the empty ones
    }

    // The same path collected twice (as another spelling of its folder could give) is listed
    // once, and a path alone is never a group. A group's fingerprint is its CRC-32 text.
    void pathMetTwice()
    {
        FileTree tree;
        tree.write("a", "123456789");
        tree.write("b", "123456789");
        tree.write("c", "987654321");
        tree.write("d", "other");
        CandidateTable table;
        tree.collect(table, {"a", "b", "c", "d"});
        for (const std::size_t k : {0, 2}) { // a and c once more, under identities never met
            const CandidateTable::File file = table.file(k);
            table.addFile(file.folder, table.nameBytes(k).toByteArray(), file.size, 0, k + 1);
        }
        RecordingHost host;
        VectorSink sink;
        DuplicateMatcher matcher(table, host);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        QCOMPARE(matcher.matchFiles(sink), DuplicateMatcher::Result::Done);
        QCOMPARE(sink.groups(), (std::vector<QStringList>{names(tree, {"a", "b"})}));
        QCOMPARE(matcher.fingerprint(1), QStringLiteral("CBF43926"));
        QCOMPARE(matcher.fingerprint(3), QString()); // a size no other file has: never read
    }

    void spoiledAfterCollection_data() { variantRows({"removed", "fifo", "link", "shrunk", "grown", "unreadable"}); }

    // A file that vanished, changed or cannot be read since it was collected is left out; the
    // search goes on and its copies are still listed.
    void spoiledAfterCollection()
    {
        QFETCH(QString, how);
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray contents = randomBytes(200 * 1024, 11);
        for (const char *name : {"a", "b", "c", "d"})
            tree.write(name, contents);
        CandidateTable table;
        tree.collect(table, {"a", "b", "c", "d"});

        const QByteArray b = QFile::encodeName(tree.path("b"));
        QVERIFY(QFile::remove(tree.path("b")));
        if (how == "fifo")
            QCOMPARE(::mkfifo(b.constData(), 0644), 0);
        else if (how == "link")
            QCOMPARE(::symlink(QFile::encodeName(tree.path("a")).constData(), b.constData()), 0);
        else if (how == "shrunk")
            tree.write("b", contents.left(contents.size() - 1));
        else if (how == "grown")
            tree.write("b", contents + "more");
        else if (how == "unreadable") {
            // Root reads anything: an unreadable file is a FIFO's blocked open, or here a
            // file whose mode forbids reading when the test does not run as root.
            if (::geteuid() == 0) {
                QCOMPARE(::mkfifo(b.constData(), 0), 0);
            } else {
                tree.write("b", contents);
                QVERIFY(QFile::setPermissions(tree.path("b"), {}));
            }
        }

        Run run;
        runMatcher(table, options, run);
        QCOMPARE(run.sink.groups(), (std::vector<QStringList>{names(tree, {"a", "c", "d"})}));
    }

    void identitiesAsCompared_data() { variantRows({"identities"}); }

    // Each row carries the file as its contents were compared, so a file changed afterwards
    // (contents, modification time, or an empty file given contents) no longer matches it.
    void identitiesAsCompared()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray contents = randomBytes(200 * 1024, 31);
        const QStringList order{"a", "e1", "b", "c", "e2", "d", "e3"};
        for (const QString &name : order)
            QVERIFY(setFileTime(tree.write(name, name.startsWith('e') ? QByteArray() : contents), 1000000000));
        CandidateTable table;
        tree.collect(table, order);

        Run run;
        runMatcher(table, options, run);
        QCOMPARE(run.sink.groups(),
                 (std::vector<QStringList>{names(tree, {"a", "b", "c", "d"}), names(tree, {"e1", "e2", "e3"})}));
        for (const ResultRow &row : run.sink.rows) {
            QVERIFY2(row.identity.valid, qPrintable(row.path));
            QCOMPARE(row.identity, identityOf(row.path));
        }

        QFile appended(tree.path("a"));
        QVERIFY(appended.open(QIODevice::Append) && appended.write("x") == 1);
        appended.close();
        const timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(tree.path("b")).constData(), now, 0), 0);
        tree.write("e2", "now with contents");
        QVERIFY(setFileTime(tree.path("e2"), 1000000000));
        const QStringList changed = names(tree, {"a", "b", "e2"});
        for (const ResultRow &row : run.sink.rows)
            QCOMPARE(row.identity == identityOf(row.path), !changed.contains(row.path));
    }

    void changedWhileRead_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<ReadOptions>("options");
        QTest::addColumn<bool>("countedAsChanged");
        for (const char *how : {"appended", "written in place", "renamed over", "replaced by a FIFO", "removed"})
            for (const Variant &v : variants)
                // With signatures a file is opened several times: a change seen at a later open
                // (a new length, a vanished file) counts as unreadable, and one that makes the
                // signature differ leaves the file simply unlike the others.
                QTest::addRow("%s, %s", how, v.name)
                    << QString::fromLatin1(how) << v.options << (QByteArray(v.name) != "tight");
    }

    // A file changed or replaced while it is read is left out of its group and counted; a
    // replacement with equal contents is left out too, as its bytes were never all compared.
    void changedWhileRead()
    {
        QFETCH(QString, how);
        QFETCH(ReadOptions, options);
        QFETCH(bool, countedAsChanged);
        FileTree tree;
        const QByteArray contents = randomBytes(200 * 1024, 41);
        for (const char *name : {"a", "b", "c", "d"})
            QVERIFY(setFileTime(tree.write(name, contents), 1000000000));
        CandidateTable table;
        tree.collect(table, {"a", "b", "c", "d"});

        const QByteArray b = QFile::encodeName(tree.path("b"));
        std::atomic<int> changes{0};
        std::atomic<bool> hookFailed{false};
        // Every time b is opened it changes underneath, so whichever read the result rests on sees it.
        options.afterOpen = [&](const char *path) {
            if (b != path)
                return;
            const int n = ++changes;
            bool ok = true;
            if (how == "appended" || how == "written in place") {
                // In place, the same bytes again: the contents still match, only the change shows.
                const int fd = ::open(path, O_WRONLY | (how == "appended" ? O_APPEND : 0));
                ok = fd >= 0 && ::pwrite(fd, contents.constData() + 1000, 4, 1000) == 4;
                ::close(fd);
            } else if (how == "renamed over") {
                const QByteArray copy = b + QByteArray::number(n);
                QFile file(QFile::decodeName(copy));
                ok = file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
                file.close();
                const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
                ok = ok && ::utimensat(AT_FDCWD, copy.constData(), old, 0) == 0
                    && ::rename(copy.constData(), path) == 0;
            } else if (how == "replaced by a FIFO") {
                ok = ::unlink(path) == 0 && ::mkfifo(path, 0644) == 0;
            } else {
                ok = ::unlink(path) == 0;
            }
            if (!ok)
                hookFailed = true;
        };

        Run run;
        runMatcher(table, options, run);
        QVERIFY(changes > 0);
        QVERIFY(!hookFailed);
        QCOMPARE(run.sink.groups(), (std::vector<QStringList>{names(tree, {"a", "c", "d"})}));
        if (countedAsChanged) {
            QCOMPARE(run.stats.changed, 1u);
            QCOMPARE(run.stats.unreadable, 0u);
        } else {
            QVERIFY(run.stats.changed + run.stats.unreadable <= 1);
        }
    }

    void folderReplacedWhileRead_data() { variantRows({"folder replaced"}); }

    // Files are opened inside their folder's kept descriptor: once the folder is renamed away and
    // another takes its name, that descriptor still reaches the old files. Whether a path still
    // names the file read goes by the path, so none of them is listed under the new folder's names.
    void folderReplacedWhileRead()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray x = randomBytes(200 * 1024, 71), y = randomBytes(200 * 1024, 72);
        const QStringList order{"d/x", "d/y", "e/x", "e/y"};
        for (const QString &name : order)
            tree.write(name, name.endsWith('x') ? x : y);
        CandidateTable table;
        tree.collect(table, order);

        const QByteArray dx = QFile::encodeName(tree.path("d/x"));
        std::atomic<bool> replaced{false}, hookFailed{false};
        options.afterOpen = [&](const char *path) {
            if (dx != path || replaced.exchange(true))
                return;
            const QByteArray other = randomBytes(200 * 1024, 73);
            const bool ok = QDir().rename(tree.path("d"), tree.path("d-old")) && QDir().mkdir(tree.path("d"))
                && !tree.write("d/x", other).isEmpty() && !tree.write("d/y", other).isEmpty();
            if (!ok)
                hookFailed = true;
        };

        Run run;
        runMatcher(table, options, run);
        QVERIFY(replaced);
        QVERIFY(!hookFailed);
        QCOMPARE(run.sink.groups(), std::vector<QStringList>{});
        QVERIFY(run.stats.changed + run.stats.unreadable >= 1);
    }

    void readerFailure_data() { variantRows({"a reader fails"}); }

    // A reader that fails (as when memory runs out) leaves its files out, counted, never lost
    // without a word; other sizes are still compared and listed.
    void readerFailure()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray big = randomBytes(200 * 1024, 51), small = randomBytes(300, 52);
        for (const char *name : {"a", "b", "c", "d"})
            tree.write(name, big);
        tree.write("x", small);
        tree.write("y", small);
        CandidateTable table;
        tree.collect(table, {"a", "x", "b", "c", "y", "d"});

        const QByteArray b = QFile::encodeName(tree.path("b"));
        options.afterOpen = [&](const char *path) {
            if (b == path)
                throw std::runtime_error("reader failed");
        };
        Run run;
        runMatcher(table, options, run);
        QCOMPARE(run.matched, DuplicateMatcher::Result::Done);
        QCOMPARE(run.sink.groups(), (std::vector<QStringList>{names(tree, {"x", "y"})}));
        QCOMPARE(run.stats.failed, 4u);
    }

    // Every strategy, with one reader or many, finds exactly the groups of equal bytes.
    void manyFilesOfOneSize_data() { variantRows({"many of one size"}); }

    // More files of one size than a reader holds open: copies whose CRC-32 is equal but not
    // their bytes stay apart, and a pair among many is found.
    void manyFilesOfOneSize()
    {
        QFETCH(ReadOptions, options);
        FileTree tree;
        const QByteArray a = randomBytes(8000, 51), twin = crcNeutralChange(a, 4000), c = randomBytes(8000, 52);
        const QStringList order{"a1", "t1", "u1", "c1", "a2", "t2", "u2", "a3", "t3", "u3", "c2", "a4", "t4"};
        for (const QString &name : order)
            tree.write(name,
                       name[0] == u'a'       ? a
                           : name[0] == u't' ? twin
                           : name[0] == u'c' ? c
                                             : randomBytes(8000, quint32(name[1].digitValue())));
        CandidateTable table;
        tree.collect(table, order);
        Run run;
        runMatcher(table, options, run);
        QCOMPARE(run.sink.groups(),
                 (std::vector<QStringList>{names(tree, {"a1", "a2", "a3", "a4"}), names(tree, {"t1", "t2", "t3", "t4"}),
                                           names(tree, {"c1", "c2"})}));
    }

    void sameGroupsWhateverTheStrategy()
    {
        FileTree tree;
        QStringList order;
        QRandomGenerator random(42);
        std::vector<QByteArray> pool;
        for (int i = 0; i < 60; ++i) {
            const qsizetype size = i < 20 ? 5000 : random.bounded(1, 40000);
            QByteArray contents = randomBytes(size, quint32(1000 + i));
            if (i < 20) // one size with equal ends: signatures, full CRCs and buckets
                contents.replace(0, 16, QByteArray(16, 'H')).replace(size - 16, 16, QByteArray(16, 'T'));
            pool.push_back(contents);
        }
        for (int i = 0; i < 240; ++i) {
            const QByteArray &contents = pool[std::size_t(random.bounded(int(pool.size())))];
            const QString name = QStringLiteral("d%1/f%2").arg(i % 7).arg(i);
            tree.write(name, i % 17 == 0 ? crcNeutralChange(contents, contents.size() / 2 - 4) : contents);
            order << name;
        }
        for (int i = 0; i < 5; ++i) {
            tree.write(QStringLiteral("empty%1").arg(i), {});
            order << QStringLiteral("empty%1").arg(i);
        }
        CandidateTable table;
        tree.collect(table, order);
        const std::vector<QStringList> expected = expectedGroups(table);
        QVERIFY(expected.size() > 20);

        std::vector<Variant> all(std::begin(variants), std::end(variants));
        for (const unsigned readers : {1u, 4u, 64u})
            for (const bool inodeOrder : {true, false}) {
                ReadOptions options;
                options.threads = readers;
                options.inodeOrder = inodeOrder;
                all.push_back({inodeOrder ? "by inode" : "by collection", options});
            }
        for (const Variant &v : all) {
            Run run;
            runMatcher(table, v.options, run);
            QVERIFY2(run.sink.groups() == expected,
                     qPrintable(QStringLiteral("%1 readers, %2").arg(v.options.threads).arg(v.name)));
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
        for (int i = 0; i < 48; ++i) {
            order << QStringLiteral("f%1").arg(i);
            tree.write(order.back(), i % 2 ? contents : crcNeutralChange(contents, 2 << 20));
        }
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
        row(1, "", "");
        row(2, "2 Bytes", "2 Bytes");
        row(1023, "1,023 Bytes", "1.023 Bytes");
        row(1024, "1 KB", "1 KB");
        row(2560, "3 KB", "3 KB");
        row(1048575, "1,024 KB", "1.024 KB");
        row(1048576, "1. MB", "1, MB");
        row(1572864, "1.5 MB", "1,5 MB");
        row(5000000, "4.77 MB", "4,77 MB");
        row(1073741823, "1,024. MB", "1.024, MB");
        row(1073741824, "1. GB", "1, GB");
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
        // Without a user locale (the tests run under C.UTF-8) sizes are written the English way.
        QCOMPARE(FormatFileSize(size), english);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(MatchingTest)
#include "tst_matching.moc"
