#include "TestFiles.h"
#include "TestMain.h"
#include "Trash.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestTrash : public QObject
{
    Q_OBJECT

private slots:
    void movesFileWithRestorableInfo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("percent and space") << "50%41 b.txt"; // must come back as 50%41, not 50A
        QTest::newRow("non-ASCII") << QString::fromUtf8("\xc3\xbcn\xc3\xaf.txt");
    }

    void movesFileWithRestorableInfo()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QVERIFY(writeFile(path, "contents"));

        SystemTrash trash;
        QString error;
        QVERIFY2(trash.moveToTrash(path, &error), qPrintable(error));
        QVERIFY(!QFile::exists(path));
        // The info names the original place so a file manager restores it there: a URI path,
        // with everything a URI path may not hold as is written %XX.
        const TrashEntry entry = trashEntry(path);
        QCOMPARE(readFile(entry.storedFile), QByteArray("contents"));
        static const QRegularExpression uriPath(QStringLiteral("^([A-Za-z0-9._~/!$&'()*+,;=:@-]|%[0-9A-Fa-f]{2})+$"));
        QVERIFY2(uriPath.match(QString::fromLatin1(entry.rawPath)).hasMatch(), entry.rawPath.constData());
    }

    void failureLeavesTheFile_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("missing") << "missing";
        QTest::newRow("trash cannot be made") << "trash is a file";
    }

    void failureLeavesTheFile()
    {
        QFETCH(QString, trouble);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        const bool blocked = trouble == QLatin1String("trash is a file");
        if (blocked) {
            QVERIFY(writeFile(path, "keep me"));
            QDir(trashFolder()).removeRecursively();
            QVERIFY(writeFile(trashFolder(), "not a folder"));
        }

        SystemTrash trash;
        QString error;
        const bool moved = trash.moveToTrash(path, &error);
        QFile::remove(trashFolder());
        QVERIFY(!moved);
        QVERIFY(!error.isEmpty());
        if (blocked) // never deleted for good instead
            QCOMPARE(readFile(path), QByteArray("keep me"));
    }

    void restoreFromTheTrashRecord_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("reason"); // empty: the file is back
        QTest::newRow("back where it was") << "" << "";
        QTest::newRow("a new file at its place") << "occupied" << "another file now stands at its place";
        QTest::newRow("its folder is gone") << "folder gone" << "its folder is no longer there";
        QTest::newRow("emptied from the trash") << "emptied" << "it is no longer in the trash";
        QTest::newRow("another file of that name in the trash") << "other inode" << "it is no longer in the trash";
        // clang-format on
    }

    void restoreFromTheTrashRecord()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("album/50%41 photo.jpg"));
        QVERIFY(writeFile(path, "the picture"));
        struct stat st = {};
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0);
        SystemTrash trash;
        QString error;
        QVERIFY2(trash.moveToTrash(path, &error), qPrintable(error));
        const TrashEntry entry = trashEntry(path);
        TrashedFile trashed{path, std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
        if (trouble == QLatin1String("occupied"))
            QVERIFY(writeFile(path, "a new picture"));
        if (trouble == QLatin1String("folder gone"))
            QVERIFY(QDir(dir.filePath(QStringLiteral("album"))).removeRecursively());
        if (trouble == QLatin1String("emptied"))
            QVERIFY(QFile::remove(entry.storedFile));
        if (trouble == QLatin1String("other inode"))
            ++trashed.inode;

        const std::vector<QString> results = trash.restore({trashed});

        QCOMPARE(results, std::vector<QString>{reason});
        if (reason.isEmpty()) {
            QCOMPARE(readFile(path), QByteArray("the picture"));
            QVERIFY(trashEntry(path).storedFile.isEmpty()); // record and file both gone from the trash
            QVERIFY(!QFile::exists(entry.storedFile));
        } else if (trouble != QLatin1String("emptied")) {
            QCOMPARE(readFile(entry.storedFile), QByteArray("the picture")); // still restorable
            if (trouble == QLatin1String("occupied"))
                QCOMPARE(readFile(path), QByteArray("a new picture"));
        }
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
