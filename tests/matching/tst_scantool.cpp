#include "MatchingFixture.h"
#include "TestMain.h"

#include <QProcess>
#include <QScopeGuard>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Scan
{
    int exitCode = -1;
    QByteArray out, err;
};

Scan scan(const QStringList &arguments, const QByteArray &threads = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!threads.isEmpty())
        environment.insert(QStringLiteral("TWINFOLD_THREADS"), QString::fromLatin1(threads));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TWINFOLD_SCAN), arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// Groups of raw path bytes, read back from -0 output.
QList<QList<QByteArray>> nulGroups(const QByteArray &out)
{
    QList<QList<QByteArray>> groups;
    QList<QByteArray> group;
    qsizetype at = 0;
    while (at < out.size()) {
        const qsizetype end = out.indexOf('\0', at);
        if (end < 0)
            return {}; // a path without its terminator
        if (end == at) {
            groups << group;
            group.clear();
        } else {
            group << out.mid(at, end - at);
        }
        at = end + 1;
    }
    return group.isEmpty() ? groups : QList<QList<QByteArray>>{};
}

} // namespace

class ScanToolTest : public QObject
{
    Q_OBJECT

private slots:
    // Any name survives -0: newlines, tabs, a leading dash, spaces, backslashes, "?", UTF-8.
    void oddNamesWithNul()
    {
        FileTree tree;
        const QStringList odd{QStringLiteral("line\nbreak.jpg"), QStringLiteral("-rf"), QStringLiteral("tab\there"),
                              QStringLiteral("back\\slash"),     QStringLiteral("what?.png"), QStringLiteral("été 2024.jpg"),
                              QStringLiteral("carriage\rreturn")};
        const QByteArray contents = randomBytes(5000, 3);
        QList<QByteArray> expected;
        for (const QString &name : odd)
            expected << QFile::encodeName(tree.write(QStringLiteral("odd/") + name, contents));
        tree.write("odd/.hidden copy", contents);
        QVERIFY(QFile::link(tree.path("odd/-rf"), tree.path("odd/link to -rf")));
        tree.write("odd/other", randomBytes(5000, 4));
        // A name that is not UTF-8 is skipped with a message, never listed under a wrong name.
        const QByteArray undecodable = QFile::encodeName(tree.path("odd/")) + "bad\xff.jpg";
        const int fd = ::open(undecodable.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, contents.constData(), std::size_t(contents.size())), ssize_t(contents.size()));
        ::close(fd);
        const auto removeUndecodable = qScopeGuard([&] { ::unlink(undecodable.constData()); }); // Qt cannot name it

        for (const char *threads : {"1", "4"}) {
            const Scan result = scan({QStringLiteral("-0"), tree.path("odd")}, threads);
            QCOMPARE(result.exitCode, 0);
            const QList<QList<QByteArray>> groups = nulGroups(result.out);
            QCOMPARE(groups.size(), 1);
            QList<QByteArray> listed = groups.front();
            std::sort(listed.begin(), listed.end());
            std::sort(expected.begin(), expected.end());
            QCOMPARE(listed, expected);
            QVERIFY(result.err.contains("skipped"));
            QVERIFY(result.err.contains("1 groups, 7 duplicate files"));
        }
    }

    void linesAndEmptyLineAfterEachGroup()
    {
        FileTree tree;
        tree.write("top/a", "first");
        tree.write("top/b", "first");
        tree.write("top/sub/c", "second");
        tree.write("top/sub/d", "second");
        tree.write("top/e", "lonely");
        // Each file is met once: a hard link and a folder listed twice make no group of one.
        QCOMPARE(::link(QFile::encodeName(tree.path("top/e")).constData(),
                        QFile::encodeName(tree.path("top/sub/e")).constData()),
                 0);
        // A relative folder is taken from the current folder, and "--" ends the options.
        QVERIFY(QDir::setCurrent(tree.root()));
        const Scan result = scan({QStringLiteral("--"), QStringLiteral("top"), tree.path("top/")});
        QCOMPARE(result.exitCode, 0);
        const QByteArray root = QFile::encodeName(tree.path("top/"));
        const QList<QByteArray> blocks = result.out.split('\n');
        QCOMPARE(blocks.size(), 7); // four paths, two empty lines and the end
        QCOMPARE(blocks.at(2), QByteArray());
        QCOMPARE(blocks.at(5), QByteArray());
        QVERIFY(result.out.endsWith("\n\n"));
        for (const int i : {0, 1, 3, 4})
            QVERIFY(blocks.at(i).startsWith(root));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("threads");
        QTest::newRow("only options") << QStringList{QStringLiteral("-0")} << QByteArray();
        QTest::newRow("unknown option") << QStringList{QStringLiteral("-x"), QStringLiteral("/")} << QByteArray();
        QTest::newRow("missing folder") << QStringList{QStringLiteral("/no/such/folder/here")} << QByteArray();
        QTest::newRow("a file, not a folder") << QStringList{QCoreApplication::applicationFilePath()}
                                              << QByteArray();
        QTest::newRow("empty folder name") << QStringList{QString()} << QByteArray();
        QTest::newRow("bad thread count") << QStringList{QStringLiteral("/var/empty")} << QByteArray("zero");
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, threads);
        const Scan result = scan(arguments, threads);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("usage: twinfold-scan"));
        QCOMPARE(result.out, QByteArray());
    }
};

TWINFOLD_GUILESS_TEST_MAIN(ScanToolTest)
#include "tst_scantool.moc"
