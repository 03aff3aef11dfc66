// The fingerprint store: however a user makes it stale or a crash damages it, a search with it
// lists exactly the groups of a search without it; unchanged files are not read again.

#include "CandidateTable.h"
#include "Crc32.h"
#include "Fakes.h"
#include "FingerprintStore.h"
#include "MatchingFixture.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "TestMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct RowsOf final : FolderRows
{
    explicit RowsOf(QString root) : root(std::move(root)) {}
    std::size_t rowCount() const override { return 1; }
    QString rowText(std::size_t) const override { return root; }
    QString root;
};

struct Outcome
{
    std::vector<QStringList> groups;
    std::uint64_t bytesRead = 0;
    QStringList notices;
};

// One search of `root`; with `store` set, through the store in that folder.
Outcome search(const QString &root, const QString *store, std::uint64_t volume = 1,
               std::chrono::milliseconds settled = std::chrono::milliseconds(20))
{
    RecordingHost host;
    MemorySettingsStore settings;
    VectorSink sink;
    SearchDriver driver(host, settings, sink);
    QStringList notices;
    FingerprintStore::Options options;
    if (store)
        options.folder = *store;
    options.settled = settled;
    // Every device is one file system with this id (a test cannot mount one); 0: as the kernel says.
    if (volume != 0)
        options.volumeOf = [volume](std::uint64_t, const char *) { return StoreVolume{volume, 0xEF53}; };
    options.notice = [&notices](const QString &text) { notices << text; };
    driver.setFingerprintStore(store != nullptr, options);
    ReadOptions reading;
    reading.threads = 4; // 16 files open a task: a size with more is signed first
    driver.setReadOptions(reading);
    driver.run(RowsOf(root));
    return {sink.groups(), driver.matchStats().bytesRead, notices};
}

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A change that size and mtime do not show: `path` written with the times `timesOf` had.
void writeWithTimesOf(const QString &path, const QByteArray &contents, const QString &timesOf)
{
    const struct stat before = statOf(timesOf);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    QVERIFY(writeFile(path, contents));
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

// Sets a header field (version at 8, compacted-at at 16) with the header's CRC-32 at 28 made good.
template <typename T> void setHeader(const QString &path, qsizetype at, T value)
{
    QByteArray all = readFile(path);
    std::memcpy(all.data() + at, &value, sizeof value);
    const std::uint32_t crc = crc32::checksum(all.constData(), 28);
    std::memcpy(all.data() + 28, &crc, 4);
    QVERIFY(writeFile(path, all));
}

// The ctime of a file written now moves on past what a store learnt: stamps are taken to the
// nanosecond but the kernel's clock ticks more coarsely.
void letTheClockTick()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

// Rewrites every stored fact through `edit` (60 bytes: inode at 0, comparison at 32, ends CRC
// at 40, whole CRC at 44, part at 48, flags at 52), with each chunk's checksum made good again:
// what a stranger with write access to the cache could leave.
void editFacts(const QString &path, const std::function<void(char *fact)> &edit)
{
    QByteArray all = readFile(path);
    for (qsizetype at = 32; at + 16 <= all.size();) {
        quint32 volumes = 0, facts = 0;
        std::memcpy(&volumes, all.constData() + at + 4, 4);
        std::memcpy(&facts, all.constData() + at + 8, 4);
        const qsizetype end = at + 16 + qsizetype(volumes) * 16 + qsizetype(facts) * 60;
        QVERIFY(end <= all.size());
        for (qsizetype fact = at + 16 + qsizetype(volumes) * 16; fact < end; fact += 60)
            edit(all.data() + fact);
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(all.constData());
        const std::uint32_t crc = ~crc32::update(crc32::update(0xFFFFFFFFu, bytes + at + 4, 8), bytes + at + 16,
                                                 static_cast<std::size_t>(end - at - 16));
        std::memcpy(all.data() + at + 12, &crc, 4);
        at = end;
    }
    QVERIFY(writeFile(path, all));
}

// What a crash or a stranger can leave: one byte of the store changed.
void damage(const QString &path, qsizetype at)
{
    QByteArray all = readFile(path);
    all[at] = static_cast<char>(all[at] ^ 0x40);
    QVERIFY(writeFile(path, all));
}

} // namespace

class FingerprintStoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root, m_store, m_file;
    QString at(const QString &name) const { return m_root + QLatin1Char('/') + name; }
    QByteArray fs(const char *name) const { return QFile::encodeName(at(name)); }

private slots:
    // Groups of every comparison: Lockstep (300 kB), whole in memory (20 kB), a file with the
    // same ends as a group but other middle bytes, files alone in their size.
    void init()
    {
        m_root = m_dir.path() + QStringLiteral("/tree");
        m_store = m_dir.path() + QStringLiteral("/cache");
        m_file = m_store + QStringLiteral("/fingerprints");
        QDir(m_dir.path()).removeRecursively();
        const QByteArray a = randomBytes(300000, 1);
        QByteArray otherMiddle = a;
        otherMiddle[150000] = static_cast<char>(otherMiddle[150000] ^ 1);
        for (const char *name : {"a1", "a2", "sub/a3"})
            writeFile(at(name), a);
        writeFile(at("a4"), otherMiddle);
        writeFile(at("a5"), randomBytes(300000, 2));
        const QByteArray b = randomBytes(20000, 3);
        writeFile(at("b1"), b);
        writeFile(at("sub/b2"), b);
        writeFile(at("b3"), randomBytes(20000, 4));
        writeFile(at("c"), randomBytes(777, 5));
        letTheClockTick();
    }

    void staleFactsAreNotUsed_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("unchanged") << "";
        QTest::newRow("rewritten equal, same size and mtime") << "rewrite a4 as a1";
        QTest::newRow("rewritten apart, same size and mtime") << "rewrite b2 apart";
        QTest::newRow("replaced by rename") << "rename over a2";
        QTest::newRow("hard link") << "link b1 as b3";
        QTest::newRow("moved to another folder") << "move a4 and b1";
        QTest::newRow("same inodes on another file system") << "other volume";
        QTest::newRow("store corrupted") << "damage 100";
        QTest::newRow("store truncated in a fact") << "truncate 100";
        QTest::newRow("store truncated in a chunk header") << "truncate 40";
        QTest::newRow("store header damaged") << "damage 8";
        QTest::newRow("store of another version") << "version 3";
        // A writer killed mid-append; later appends follow the torn tail and are still found.
        QTest::newRow("torn tail, then appends") << "torn tail";
    }

    // Stale in every way a user can make it, or damaged: the groups are those of a search
    // without a store, and only an unchanged tree goes unread.
    void staleFactsAreNotUsed()
    {
        QFETCH(QString, change);
        const Outcome first = search(m_root, &m_store);
        QVERIFY(first.bytesRead > 0);
        QVERIFY(first.notices.isEmpty());

        std::uint64_t volume = 1;
        if (change == "rewrite a4 as a1") {
            writeWithTimesOf(at("a4"), readFile(at("a1")), at("a4"));
        } else if (change == "rewrite b2 apart") {
            writeWithTimesOf(at("sub/b2"), randomBytes(20000, 9), at("sub/b2"));
        } else if (change == "rename over a2") {
            writeWithTimesOf(at("new"), randomBytes(300000, 2), at("a2")); // a5's contents
            QVERIFY(::rename(fs("new"), fs("a2")) == 0);
        } else if (change == "link b1 as b3") {
            QVERIFY(QFile::remove(at("b3")) && ::link(fs("b1"), fs("b3")) == 0);
        } else if (change == "move a4 and b1") {
            QVERIFY(QFile::rename(at("a4"), at("sub/a4")) && QFile::rename(at("b1"), at("sub/b1")));
        } else if (change == "other volume") {
            volume = 2;
        } else if (change.startsWith("damage")) {
            damage(m_file, change.mid(7).toInt());
        } else if (change == "version 3") {
            setHeader(m_file, 8, std::uint32_t(3));
        } else if (change.startsWith("truncate")) {
            QVERIFY(::truncate(QFile::encodeName(m_file).constData(), change.mid(9).toInt()) == 0);
        } else if (change == "torn tail") { // a chunk header cut short
            QVERIFY(writeFile(m_file, readFile(m_file) + QByteArray("TfCk\x01\0\0\0\x09\0\0\0", 12)));
            writeFile(at("b4"), readFile(at("b1")));
            writeFile(at("a6"), randomBytes(300000, 7));
        }
        letTheClockTick();

        const Outcome without = search(m_root, nullptr);
        const Outcome with = search(m_root, &m_store, volume);
        QCOMPARE(with.groups, without.groups);
        QCOMPARE(with.bytesRead == 0, change.isEmpty());
        const bool damaged = change.startsWith("damage") || change.startsWith("truncate") || change == "version 3"
            || change == "torn tail";
        QCOMPARE(with.notices.size(), damaged ? 1 : 0);
        if (change == "other volume")
            QCOMPARE(with.bytesRead, first.bytesRead);

        // What the last search learnt holds too: the next one reads nothing and agrees.
        const Outcome again = search(m_root, &m_store, volume);
        QCOMPARE(again.groups, without.groups);
        QVERIFY(again.notices.isEmpty());
        if (change != "rewrite a4 as a1" && change != "rewrite b2 apart" && change != "rename over a2")
            QCOMPARE(again.bytesRead, std::uint64_t(0));
    }

    // A size with more files than are opened at once is told apart by signatures: the CRC-32 of
    // their ends, then of the whole files whose ends agree. What those told is remembered, with
    // the ends of the files read whole, so a copy met in another search is found; and where a
    // small group kept shorter ends, they are not taken to differ from the signatures'. Files
    // that never met in one comparison (x/copy, y/copy) are not told apart by having ended apart
    // in different ones.
    void factsOfSeparateSearchesMeet()
    {
        for (int i = 0; i < 30; ++i) // apart at their ends
            writeFile(at(QStringLiteral("big/x/end%1").arg(i)), randomBytes(30000, 100 + quint32(i)));
        const QByteArray same = randomBytes(30000, 50);
        for (int i = 0; i < 20; ++i) { // one ends, apart in the middle
            QByteArray middle = same;
            middle[15000] = static_cast<char>(middle[15000] ^ (i + 1));
            writeFile(at(QStringLiteral("big/x/mid%1").arg(i)), middle);
        }
        writeFile(at("big/x/same1"), same);
        writeFile(at("big/x/same2"), same);
        for (int i = 0; i < 3; ++i)
            writeFile(at(QStringLiteral("big/x/copy%1").arg(i)), randomBytes(30000, 60));
        const QByteArray mid3 = readFile(at("big/x/mid3"));
        writeFile(at("big/y/mid3"), mid3);
        for (int i = 0; i < 30; ++i) // too many to read whole: signed as well
            writeFile(at(QStringLiteral("big/y/other%1").arg(i)), randomBytes(30000, 70 + quint32(i)));
        writeFile(at("z/mid3"), mid3); // read whole
        writeFile(at("z/other"), randomBytes(30000, 200));
        for (const char *folder : {"x/", "y/"}) {
            writeFile(at(folder + QStringLiteral("copy")), randomBytes(21000, 7));
            writeFile(at(folder + QStringLiteral("other")), randomBytes(21000, folder[0]));
            for (const char *twin : {"twin1", "twin2"}) // a class read whole in each search
                writeFile(at(folder + QLatin1String(twin)), randomBytes(22000, 8));
        }
        letTheClockTick();

        QCOMPARE(search(at("big/x"), &m_store).groups.size(), std::size_t(2));
        QCOMPARE(search(at("big/x"), &m_store).bytesRead, std::uint64_t(0));
        search(at("big/y"), &m_store);
        const Outcome big = search(at("big"), nullptr);
        QCOMPARE(big.groups.size(), std::size_t(3));
        QCOMPARE(search(at("big"), &m_store).groups, big.groups);

        for (const char *folder : {"z", "x", "y"})
            search(at(folder), &m_store);
        const Outcome all = search(m_root, nullptr);
        QCOMPARE(all.groups.size(), std::size_t(7)); // with a1-a3, b1-b2, x/copy, y/copy and the twins
        QCOMPARE(search(m_root, &m_store).groups, all.groups);
    }

    // A store whose checksums hold but whose facts disagree (b3 put in b1's class while its
    // stored ends differ from b1's) is read, not believed.
    void factsThatDisagreeAreNotBelieved()
    {
        search(m_root, &m_store);
        const std::uint64_t b1Inode = statOf(at("b1")).st_ino, b3Inode = statOf(at("b3")).st_ino;
        QByteArray b1;
        editFacts(m_file, [&](char *fact) {
            if (std::memcmp(fact, &b1Inode, 8) == 0)
                b1 = QByteArray(fact, 60);
        });
        QCOMPARE(b1.size(), 60);
        editFacts(m_file, [&](char *fact) {
            if (std::memcmp(fact, &b3Inode, 8) != 0)
                return;
            std::memcpy(fact + 32, b1.constData() + 32, 8);  // comparison
            std::memcpy(fact + 44, b1.constData() + 44, 12); // whole CRC, part, flags
        });
        QCOMPARE(search(m_root, &m_store).groups, search(m_root, nullptr).groups);
    }

    // A file changed within the clock's tick before it was read gets no fact: a second change
    // in the same tick would leave its stamps as they were. Every file here is that fresh.
    void freshFilesAreReadAgain()
    {
        const auto settled = std::chrono::milliseconds(60000);
        const Outcome first = search(m_root, &m_store, 1, settled);
        QCOMPARE(search(m_root, &m_store, 1, settled).bytesRead, first.bytesRead);
    }

    // A store of many chunks, larger than what is read of it at a time: every chunk is used,
    // and one damaged chunk costs only its own facts.
    void aLargeStoreIsReadWhole_data()
    {
        QTest::addColumn<qsizetype>("damageAt");
        QTest::newRow("sound") << qsizetype(0);
        QTest::newRow("a chunk past 64 KiB damaged") << qsizetype(70000);
    }
    void aLargeStoreIsReadWhole()
    {
        QFETCH(qsizetype, damageAt);
        const QString many = m_dir.path() + QStringLiteral("/many");
        for (int i = 0; i < 800; ++i) {
            const QByteArray contents = randomBytes(1000 + i, static_cast<quint32>(1000 + i));
            writeFile(many + QStringLiteral("/%1/x%2").arg(i / 50).arg(i), contents);
            writeFile(many + QStringLiteral("/%1/y%2").arg(i / 50).arg(i), contents);
        }
        letTheClockTick();
        for (int part = 0; part < 16; ++part) // a chunk each: 1600 facts, 96 kB
            search(many + QStringLiteral("/%1").arg(part), &m_store);
        const Outcome without = search(many, nullptr);
        QCOMPARE(without.groups.size(), std::size_t(800));
        if (damageAt != 0)
            damage(m_file, damageAt);
        const Outcome again = search(many, &m_store);
        QCOMPARE(again.groups, without.groups);
        QCOMPARE(again.notices.size(), damageAt == 0 ? 0 : 1);
        if (damageAt == 0)
            QCOMPARE(again.bytesRead, std::uint64_t(0));
        else // 100 facts lost: their 100 files are read again.
            QVERIFY(again.bytesRead > 0 && again.bytesRead < without.bytesRead / 10);
    }

    // The walk marks each file with its fact. A mark that names another file's fact of the same
    // size (a fault in the marking) is not believed: the size is read.
    void aFactOfAnotherFileIsNotBelieved()
    {
        search(m_root, &m_store);
        FingerprintStore::Options options;
        options.folder = m_store;
        options.volumeOf = [](std::uint64_t, const char *) { return StoreVolume{1, 0xEF53}; };
        FingerprintStore store(options);
        store.load();
        CandidateTable table;
        const CandidateTable::StampMarker marker = store.marker(table);
        table.setStampMarker(
            [&](const std::vector<CandidateTable::Stamped> &files, std::vector<std::uint32_t> &marks, bool wait) {
                const bool marked = marker(files, marks, wait);
                std::rotate(marks.begin(), marks.begin() + 1, marks.end());
                return marked;
            });
        const std::uint32_t folder = table.addFolder(QFile::encodeName(m_root + QLatin1Char('/')));
        for (const char *name : {"a1", "a2", "sub/a3", "a4", "a5"}) {
            const struct stat st = statOf(at(name));
            QVERIFY(table.addFile(folder, QByteArrayView(name), st.st_size, st.st_dev, st.st_ino,
                                  {st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec,
                                   st.st_ctim.tv_sec * 1000000000ll + st.st_ctim.tv_nsec}));
        }
        table.markRemaining();
        const FingerprintStore::Recalled known = store.recall(table, 300000, {0, 1, 2, 3, 4});
        QVERIFY(known.classes.empty());
        QCOMPARE(known.toRead, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
    }

    // An unchanged collection searched again reads nothing. The weekly rewrite keeps the facts
    // such a search used, dated the day they were used, so pruning never drops them.
    void rewriteDatesTheFactsUsed()
    {
        search(m_root, &m_store);
        const qint64 today = QDateTime::currentSecsSinceEpoch() / 86400;
        const auto longAgo = static_cast<quint16>(today - 170);
        editFacts(m_file, [&](char *fact) { std::memcpy(fact + 58, &longAgo, 2); });
        // Last rewritten eight days ago.
        setHeader(m_file, 16, static_cast<quint64>(QDateTime::currentSecsSinceEpoch() - 8 * 86400));
        QCOMPARE(search(m_root, &m_store).bytesRead, std::uint64_t(0));
        int facts = 0;
        editFacts(m_file, [&](char *fact) {
            quint16 day = 0;
            std::memcpy(&day, fact + 58, 2);
            QVERIFY(day >= today);
            ++facts;
        });
        QCOMPARE(facts, 8);
    }

    // Two programs appending and rewriting at once: neither damages the store, and what both
    // learnt is there for the next search.
    void twoWriters()
    {
        const QString other = m_dir.path() + QStringLiteral("/other");
        for (int i = 0; i < 40; ++i)
            writeFile(other + QStringLiteral("/f%1").arg(i),
                      randomBytes(5000 + i % 10, static_cast<quint32>(100 + i % 20)));
        // The tool keeps no fact of a file changed in the last two seconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        const QString roots[] = {m_root, other};
        QProcess writers[2];
        for (QProcess &writer : writers)
            writer.setEnvironment(QProcess::systemEnvironment() << "XDG_CACHE_HOME=" + m_dir.path());
        for (int round = 0; round < 5; ++round) {
            for (int i = 0; i < 2; ++i)
                writers[i].start(QStringLiteral(TWINFOLD_SCAN), {QStringLiteral("-q"), roots[i]});
            for (QProcess &writer : writers) {
                QVERIFY(writer.waitForFinished(60000));
                QCOMPARE(writer.exitCode(), 0);
                QVERIFY(writer.readAllStandardError().isEmpty());
            }
        }
        const QString store = m_dir.path() + QStringLiteral("/twinfold");
        for (const QString &root : roots) {
            const Outcome with = search(root, &store, 0);
            QCOMPARE(with.groups, search(root, nullptr).groups);
            QVERIFY(with.notices.isEmpty());
            QCOMPARE(with.bytesRead, std::uint64_t(0));
        }
    }
};

TWINFOLD_GUILESS_TEST_MAIN(FingerprintStoreTest)
#include "tst_fingerprintstore.moc"
