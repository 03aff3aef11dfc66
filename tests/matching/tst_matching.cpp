#include "DuplicateMatcher.h"
#include "Fakes.h"
#include "FileSize.h"
#include "MatchingFixture.h"
#include "TestMain.h"

#include <map>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ReadOptions)

namespace {

struct Variant
{
    const char *name;
    ReadOptions options;
};

// Each reading strategy: small groups in memory, files compared block by block, and tight
// limits that force signatures, buckets and many small blocks.
const Variant variants[] = {
    {"4 readers", {}},
    {"1 reader", {1, 64, 16u << 20, 4096}},
    {"tight", {3, 6, 0, 16}},
};

struct Run
{
    DuplicateMatcher::Result read = DuplicateMatcher::Result::Done;
    DuplicateMatcher::Result matched = DuplicateMatcher::Result::Done;
    VectorSink sink;
    RecordingHost host;
};

void runMatcher(const CandidateTable &table, const ReadOptions &options, Run &run)
{
    DuplicateMatcher matcher(table, run.host, options);
    run.read = matcher.readFiles();
    if (run.read == DuplicateMatcher::Result::Done)
        run.matched = matcher.matchFiles(run.sink);
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

    std::unique_ptr<FileTree> m_bigTree;
    QStringList m_bigOrder;

private slots:
    void groupOrderAndColours()
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
        const QStringList paths = names(tree, {"a", "sub/b", "sub/c", "d", "e", "f", "g"});
        const QStringList colours{"light blue", "light blue", "light blue", "blue", "blue", "light blue", "light blue"};
        QCOMPARE(run.sink.rows.size(), std::size_t(7));
        for (std::size_t r = 0; r < run.sink.rows.size(); ++r) {
            QCOMPARE(run.sink.rows[r].path, paths.at(qsizetype(r)));
            QCOMPARE(run.sink.rows[r].colour, colours.at(qsizetype(r)));
        }
        QCOMPARE(run.sink.groupEnds, (std::vector<std::size_t>{3, 5, 7}));
        QCOMPARE(run.sink.rows[0].sizeText, FormatFileSize(3000));
        QCOMPARE(run.sink.rows[5].sizeText, QStringLiteral("70 Bytes"));
        QCOMPARE(run.host.progress.back(), 100);
    }

    void contentsDecide_data()
    {
        QTest::addColumn<QByteArray>("one");
        QTest::addColumn<QByteArray>("other");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<ReadOptions>("options");

        const QByteArray base = randomBytes(100 * 1024, 7);
        QByteArray firstByte = base, lastByte = base, middleByte = base;
        firstByte[0] = static_cast<char>(base[0] ^ 1);
        lastByte[base.size() - 1] = static_cast<char>(base[base.size() - 1] ^ 0x80);
        middleByte[base.size() / 2 + 3] = static_cast<char>(base[base.size() / 2 + 3] ^ 0x10);
        const QByteArray collision = crcNeutralChange(base, 60000);
        const QByteArray small = randomBytes(40, 8);
        QByteArray smallMiddle = small;
        smallMiddle[20] = 'x';

        for (const Variant &v : variants) {
            const auto row = [&](const char *name, const QByteArray &a, const QByteArray &b, bool listed) {
                QTest::addRow("%s, %s", name, v.name) << a << b << listed << v.options;
            };
            row("same contents", base, base, true);
            row("first byte differs", base, firstByte, false);
            row("last byte differs", base, lastByte, false);
            row("a middle byte differs", base, middleByte, false);
            row("equal CRC-32, other bytes", base, collision, false);
            row("small, same contents", small, small, true);
            row("small, a middle byte differs", small, smallMiddle, false);
            row("small, equal CRC-32", forceCrc(small, 0x12345678), forceCrc(smallMiddle, 0x12345678), false);
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
        QCOMPARE(crc32::checksum(one.constData(), std::size_t(one.size())) ==
                     crc32::checksum(other.constData(), std::size_t(other.size())),
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

    void emptyFilesAndCrcZero_data()
    {
        QTest::addColumn<ReadOptions>("options");
        for (const Variant &v : variants)
            QTest::addRow("%s", v.name) << v.options;
    }

    // Empty files form one group; a file whose CRC-32 is 0 is not one of them.
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
        CandidateTable table;
        tree.collect(table, {"e1", "z", "sub/e2", "z2", "sub/e3"});

        Run run;
        DuplicateMatcher matcher(table, run.host, options);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        QCOMPARE(matcher.matchFiles(run.sink), DuplicateMatcher::Result::Done);
        QCOMPARE(run.sink.groups(), (std::vector<QStringList>{names(tree, {"e1", "sub/e2", "sub/e3"})}));
        QCOMPARE(run.sink.rows[0].sizeText, QString());
        QCOMPARE(matcher.fingerprint(0), QStringLiteral("0"));
        QCOMPARE(matcher.stats().filesRead, 2u); // the two CRC-zero files, never the empty ones
    }

    void pathMetTwice_data()
    {
        QTest::addColumn<bool>("withCopy");
        QTest::newRow("alone") << false;
        QTest::newRow("with a copy") << true;
    }

    // The same path collected twice (as another spelling of its folder could give) is listed
    // once, and a path alone is never a group.
    void pathMetTwice()
    {
        QFETCH(bool, withCopy);
        FileTree tree;
        tree.write("a", "contents");
        tree.write("b", withCopy ? "contents" : "other!!!");
        CandidateTable table;
        tree.collect(table, {"a", "b"});
        // The same path once more under an identity never met: it must still be listed once.
        const CandidateTable::File a = table.file(0);
        table.addFile(a.folder, table.nameBytes(0).toByteArray(), a.size, 0, 1);

        Run run;
        runMatcher(table, {}, run);
        const std::vector<QStringList> expected =
            withCopy ? std::vector<QStringList>{names(tree, {"a", "b"})} : std::vector<QStringList>{};
        QCOMPARE(run.sink.groups(), expected);
    }

    void fingerprintIsTheCrcText()
    {
        FileTree tree;
        const QByteArray contents = QByteArrayLiteral("123456789");
        tree.write("a", contents);
        tree.write("b", contents);
        tree.write("c", "other");
        CandidateTable table;
        tree.collect(table, {"a", "b", "c"});
        RecordingHost host;
        VectorSink sink;
        DuplicateMatcher matcher(table, host);
        matcher.readFiles();
        matcher.matchFiles(sink);
        QCOMPARE(matcher.fingerprint(1), QStringLiteral("CBF43926"));
        QCOMPARE(matcher.fingerprint(2), QString()); // a size no other file has: never read
        QCOMPARE(DuplicateMatcher::fingerprintText(255), QStringLiteral("FF"));
        QCOMPARE(DuplicateMatcher::fingerprintText(0), QStringLiteral("0"));
    }

    void spoiledAfterCollection_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<ReadOptions>("options");
        for (const char *how : {"removed", "fifo", "folder", "link", "shrunk", "unreadable"})
            for (const Variant &v : variants)
                QTest::addRow("%s, %s", how, v.name) << QString::fromLatin1(how) << v.options;
    }

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
        else if (how == "folder")
            QVERIFY(QDir().mkdir(tree.path("b")));
        else if (how == "link")
            QCOMPARE(::symlink(QFile::encodeName(tree.path("a")).constData(), b.constData()), 0);
        else if (how == "shrunk")
            tree.write("b", contents.left(contents.size() - 1));
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

    // Every strategy, with one reader or many, finds exactly the groups of equal bytes.
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

        for (const Variant &v : variants) {
            Run run;
            runMatcher(table, v.options, run);
            QVERIFY2(run.sink.groups() == expected, v.name);
        }
        Run manyBuckets;
        runMatcher(table, {8, 16, 0, 8}, manyBuckets);
        QVERIFY(manyBuckets.sink.groups() == expected);
    }

    void stopDuringReading_data()
    {
        QTest::addColumn<int>("pollsBeforeStop");
        QTest::newRow("at the first poll") << 1;
        QTest::newRow("a couple of polls in") << 2;
    }

    // Several readers are busy when the stop comes: they stop and join, and no row appears.
    void stopDuringReading()
    {
        QFETCH(int, pollsBeforeStop);
        // Same size, same ends and same CRC-32 everywhere: every byte must be compared.
        if (!m_bigTree) {
            m_bigTree = std::make_unique<FileTree>();
            const QByteArray contents = randomBytes(4 << 20, 21);
            for (int i = 0; i < 48; ++i) {
                m_bigOrder << QStringLiteral("f%1").arg(i);
                m_bigTree->write(m_bigOrder.back(), i % 2 ? contents : crcNeutralChange(contents, 2 << 20));
            }
        }
        CandidateTable table;
        m_bigTree->collect(table, m_bigOrder);

        Run run;
        run.host.stopWhen = [&] { return run.host.polls >= pollsBeforeStop; };
        runMatcher(table, {4, 64, 1u << 20, 4096}, run);
        QCOMPARE(run.read, DuplicateMatcher::Result::Stopped);
        QCOMPARE(run.sink.rowCount(), std::size_t(0));
        QCOMPARE(run.host.polls, pollsBeforeStop);
    }

    void stopDuringMatchingAddsNoRow()
    {
        FileTree tree;
        tree.write("a", "same");
        tree.write("b", "same");
        CandidateTable table;
        tree.collect(table, {"a", "b"});
        RecordingHost host;
        VectorSink sink;
        DuplicateMatcher matcher(table, host);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Done);
        host.stopWhen = [] { return true; };
        QCOMPARE(matcher.matchFiles(sink), DuplicateMatcher::Result::Stopped);
        QCOMPARE(sink.rowCount(), std::size_t(0));
    }

    // The stop point after the first file read: a stop pressed while collecting
    // ends the search in the reading phase even when no file needs reading.
    void stopSeenAfterReadingNothing()
    {
        FileTree tree;
        tree.write("a", "one");
        CandidateTable table;
        tree.collect(table, {"a"});
        RecordingHost host;
        host.stopWhen = [] { return true; };
        DuplicateMatcher matcher(table, host);
        QCOMPARE(matcher.readFiles(), DuplicateMatcher::Result::Stopped);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(MatchingTest)
#include "tst_matching.moc"
