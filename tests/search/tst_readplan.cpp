// The reading phase without threads: the reading pool, and each comparison on its own.

#include "Comparisons.h"
#include "MatchingFixture.h"
#include "ReadPlan.h"
#include "ReadProgress.h"
#include "TestMain.h"
#include "WorkerPool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <unistd.h>

class ReadPlanTest : public QObject
{
    Q_OBJECT

private slots:
    // The reading pool starts small and grows from one of its own tasks once the plan is known.
    void poolGrowsFromATask()
    {
        WorkerPool pool(1);
        std::mutex mutex;
        std::condition_variable allThere;
        int waiting = 0;
        std::atomic<int> metAll{0};
        pool.post([&] {
            pool.grow(6);
            for (int i = 0; i < 6; ++i)
                pool.post([&] {
                    // Six tasks that each wait for the others need six threads at once.
                    std::unique_lock lock(mutex);
                    ++waiting;
                    allThere.notify_all();
                    if (allThere.wait_for(lock, std::chrono::seconds(20), [&] { return waiting == 6; }))
                        ++metAll;
                });
        });
        QVERIFY(pool.waitIdle(std::chrono::seconds(30)));
        QCOMPARE(metAll.load(), 6);
        QCOMPARE(pool.threads(), 6u);
        pool.grow(3); // never shrinks
        QCOMPARE(pool.threads(), 6u);
        pool.cancel();
        pool.grow(8); // nor grows once cancelled
        QCOMPARE(pool.threads(), 0u);
    }

    void comparisonsAgree_data()
    {
        QTest::addColumn<QString>("comparison");
        for (const char *comparison : {"whole in memory", "lockstep", "against first", "against first, first replaced",
                                       "signatures, then lockstep"})
            QTest::newRow(comparison) << QString::fromLatin1(comparison);
    }

    // Every path finds the same classes among files of one size, with the identity each file
    // was read under, and leaves out a file that vanished; every file ends settled. Against the
    // first file, read again for every bucket: replaced by other bytes between two buckets, the
    // files equal to its new bytes must not join the class of its old ones.
    void comparisonsAgree()
    {
        QFETCH(QString, comparison);
        FileTree tree;
        const QByteArray a = randomBytes(20000, 61), b = randomBytes(20000, 62);
        const std::pair<const char *, QByteArray> files[] = {{"b1", b},   {"a1", a},
                                                             {"a2", a},   {"c", randomBytes(20000, 63)},
                                                             {"gone", a}, {"crc-of-a", crcNeutralChange(a, 9000)},
                                                             {"b2", b},   {"a3", a}};
        QStringList order;
        for (const auto &[name, contents] : files)
            tree.write(order.emplace_back(QString::fromLatin1(name)), contents);
        order.move(0, 2); // made first, its lower inode opens before a1 in their bucket
        CandidateTable table;
        tree.collect(table, order);
        QVERIFY(QFile::remove(tree.path("gone")));

        const std::atomic<bool> cancel{false};
        std::vector<SizeGroup> groups = groupBySize(table, cancel);
        QCOMPARE(groups.size(), std::size_t(1));
        ReadProgress progress;
        progress.plan(table, groups);
        ReadOptions options;
        options.edgeBlock = 64;
        const QByteArray b1 = QFile::encodeName(tree.path("b1"));
        std::atomic<bool> replaced{false};
        if (comparison.endsWith("replaced")) // a1, by the bytes of b, at the second bucket
            options.afterOpen = [&](const char *path) {
                if (b1 == path && !replaced.exchange(true))
                    QVERIFY(writeFile(tree.path("new"), b) && QFile::rename(tree.path("a1"), tree.path("old"))
                            && QFile::rename(tree.path("new"), tree.path("a1")));
            };
        // Two open files a task: the buckets take several rounds.
        Comparisons compare(table, options, ReadLimits{2, 1u << 20}, progress, cancel);
        const Comparisons::Members members = groups[0].members;
        ReadStats counters;
        std::vector<ContentClass> found;
        if (comparison == "whole in memory") {
            found = compare.wholeInMemory(20000, members, counters);
        } else if (comparison == "lockstep") {
            found = compare.lockstep(20000, members, counters);
        } else if (comparison.startsWith("against first")) {
            found = compare.againstFirst(20000, members, counters);
        } else {
            Comparisons::Signatures signatures(20000, members, false);
            compare.sign(signatures, 0, members.size(), counters);
            for (const Comparisons::Members &run : compare.runs(signatures))
                for (ContentClass &c : compare.lockstep(20000, run, counters))
                    found.push_back(std::move(c));
        }
        for (const std::uint32_t k : members)
            progress.settle(k);

        std::set<QStringList> classes;
        for (const ContentClass &c : found) {
            QCOMPARE(c.identities.size(), c.members.size());
            QStringList paths;
            for (std::size_t i = 0; i < c.members.size(); ++i) {
                paths << table.path(c.members[i]);
                QCOMPARE(c.identities[i], identityOf(table.path(c.members[i])));
            }
            QVERIFY(classes.insert(paths).second);
        }
        const QStringList sameAsA = replaced ? QStringList{"a2", "a3"} : QStringList{"a1", "a2", "a3"};
        QCOMPARE(classes, (std::set<QStringList>{inTree(tree, sameAsA), inTree(tree, {"b1", "b2"})}));
        QVERIFY(counters.unreadable >= 1);
        QCOMPARE(replaced.load(), comparison.endsWith("replaced"));
        QCOMPARE(counters.changed, replaced ? 1u : 0u);
        QCOMPARE(progress.percent(), 100);
        QCOMPARE(progress.unsettled(), 0u);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(ReadPlanTest)
#include "tst_readplan.moc"
