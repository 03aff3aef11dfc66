#include "TestFiles.h"
#include "TestMain.h"
#include "Trash.h"

#include <QtTest>

#include <unistd.h>

namespace {
// The file at path as restore knows it: its inode, and its folder as reached through the path.
TrashedFile identity(const QString &path)
{
    struct stat st = {}, folder = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0
        || ::stat(QFile::encodeName(QFileInfo(path).path()).constData(), &folder) != 0)
        return {};
    return {path, std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(folder.st_dev),
            std::uint64_t(folder.st_ino)};
}
} // namespace

class TestTrash : public QObject
{
    Q_OBJECT

private slots:
    // A missing file, then a file whose trash cannot be made: neither moves, and each says why.
    void failureLeavesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        SystemTrash trash;
        QString missing, blocked;
        QVERIFY(!trash.moveToTrash(path, &missing));
        QVERIFY(writeFile(path, "keep me"));
        QDir(trashFolder()).removeRecursively();
        QVERIFY(writeFile(trashFolder(), "not a folder"));
        const bool moved = trash.moveToTrash(path, &blocked);
        QFile::remove(trashFolder());
        QVERIFY(!moved && !missing.isEmpty() && !blocked.isEmpty());
        QCOMPARE(readFile(path), QByteArray("keep me")); // never deleted for good instead
    }

    void moveAndRestore_data()
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
        // Records and folders changed behind our back: the file stays in the trash, and the reason is true.
        QTest::newRow("record is a FIFO") << "fifo record" << "its trash record %info cannot be read as one; it stays in the trash";
        QTest::newRow("record names another place") << "edited record" << "its trash record now names another place, %elsewhere/x.jpg; it stays in the trash";
        QTest::newRow("folder replaced by a link") << "folder linked" << "its folder %folder is now a link to %elsewhere, not the folder it was moved from; it stays in the trash";
        QTest::newRow("folder replaced by another") << "folder replaced" << "its folder %folder has been replaced by another folder since the move; it stays in the trash";
        // clang-format on
    }

    void moveAndRestore()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("album")),
                      elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        // Must come back as 50%41, not 50A, and with its non-ASCII letters.
        const QString path = folder + QString::fromUtf8("/50%41 ph\xc3\xb6t\xc3\xb6.jpg");
        QVERIFY(writeFile(path, "the picture") && QDir().mkpath(elsewhere));
        const TrashedFile trashed = identity(path);
        SystemTrash trash;
        QString error;
        QVERIFY2(trash.moveToTrash(path, &error), qPrintable(error));
        QVERIFY(!QFile::exists(path));
        // The info names the original place so a file manager restores it there: a URI path,
        // with everything a URI path may not hold as is written %XX.
        const TrashEntry entry = trashEntry(path);
        QCOMPARE(readFile(entry.storedFile), QByteArray("the picture"));
        static const QRegularExpression uriPath(QStringLiteral("^([A-Za-z0-9._~/!$&'()*+,;=:@-]|%[0-9A-Fa-f]{2})+$"));
        QVERIFY2(uriPath.match(QString::fromLatin1(entry.rawPath)).hasMatch(), entry.rawPath.constData());

        const QString info = trashFolder() + QStringLiteral("/info/") + QFileInfo(entry.storedFile).fileName()
            + QStringLiteral(".trashinfo");
        if (trouble == QLatin1String("fifo record"))
            QVERIFY(QFile::remove(info) && ::mkfifo(QFile::encodeName(info).constData(), 0600) == 0);
        if (trouble == QLatin1String("edited record"))
            QVERIFY(writeFile(info, "[Trash Info]\nPath=" + QUrl::toPercentEncoding(elsewhere + "/x.jpg", "/") + "\n"));
        if (trouble.startsWith(QLatin1String("folder "))) // gone, or something else in its place
            QVERIFY(QFile::rename(folder, folder + QStringLiteral(" old")));
        if (trouble == QLatin1String("folder linked"))
            QVERIFY(QFile::link(elsewhere, folder));
        if (trouble == QLatin1String("folder replaced"))
            QVERIFY(QDir().mkpath(folder));
        reason.replace(QLatin1String("%info"), info)
            .replace(QLatin1String("%folder"), folder)
            .replace(QLatin1String("%elsewhere"), elsewhere);
        if (trouble == QLatin1String("occupied"))
            QVERIFY(writeFile(path, "a new picture"));
        if (trouble == QLatin1String("emptied"))
            QVERIFY(QFile::remove(entry.storedFile));
        if (trouble == QLatin1String("other inode")) { // made while the first exists: never its inode
            QVERIFY(writeFile(entry.storedFile + QStringLiteral(".new"), "another picture"));
            QVERIFY(::rename(QFile::encodeName(entry.storedFile + QStringLiteral(".new")).constData(),
                             QFile::encodeName(entry.storedFile).constData())
                    == 0);
        }

        QCOMPARE(trash.restore({trashed}), std::vector<QString>{reason});
        if (reason.isEmpty()) {
            QCOMPARE(readFile(path), QByteArray("the picture"));
            QVERIFY(trashEntry(path).storedFile.isEmpty()); // record and file both gone from the trash
            QVERIFY(!QFile::exists(entry.storedFile));
        } else if (trouble == QLatin1String("other inode")) { // the stranger stays where it is too
            QCOMPARE(readFile(entry.storedFile), QByteArray("another picture"));
        } else if (trouble != QLatin1String("emptied")) {
            QVERIFY(QDir(elsewhere).isEmpty());
            QCOMPARE(readFile(entry.storedFile), QByteArray("the picture")); // still restorable
            if (trouble == QLatin1String("occupied"))
                QCOMPARE(readFile(path), QByteArray("a new picture"));
        }
    }

    void restoreThroughALinkOntoAnotherFileSystem()
    {
        // Needs a file system of its own: a loop mount in a private mount namespace, as root.
        // The test runs itself again inside it.
        const QString inside = qEnvironmentVariable("TWINFOLD_OTHER_FILE_SYSTEM");
        if (!inside.isEmpty())
            return putBackThroughTheLink(inside);
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("mkfs.ext4"), {"/sbin", "/usr/sbin"}).isEmpty())
            QSKIP("needs root, unshare and mkfs.ext4");
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("image")), mount = dir.filePath(QStringLiteral("mount"));
        QFile file(image);
        QVERIFY(QDir().mkpath(mount) && file.open(QIODevice::WriteOnly) && file.resize(16 << 20));
        file.close();
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TWINFOLD_OTHER_FILE_SYSTEM"), dir.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("unshare"),
                      {"-m", "--propagation", "private", "sh", "-c",
                       "PATH=$PATH:/sbin:/usr/sbin; mkfs.ext4 -q \"$1\" && mount -o loop \"$1\" \"$2\" || exit 77; "
                       "exec \"$3\" restoreThroughALinkOntoAnotherFileSystem",
                       "sh", image, mount, QCoreApplication::applicationFilePath()});
        QVERIFY(process.waitForFinished(60000));
        if (process.exitCode() == 77)
            QSKIP("no loop mount here");
        QVERIFY2(process.exitCode() == 0, process.readAll().constData());
    }

private:
    static void putBackThroughTheLink(const QString &dir)
    {
        const QString real = dir + QStringLiteral("/mount/photos"), link = dir + QStringLiteral("/link");
        const QString path = link + QStringLiteral("/photo.jpg");
        QVERIFY(writeFile(real + QStringLiteral("/photo.jpg"), "the picture") && QFile::link(real, link));
        const TrashedFile trashed = identity(path);
        SystemTrash trash;
        QString error;
        QVERIFY2(trash.moveToTrash(path, &error), qPrintable(error));
        QVERIFY(QDir(dir + QStringLiteral("/mount/.Trash-0/files")).exists()); // that file system's own trash

        QCOMPARE(trash.restore({trashed}), std::vector<QString>{QString()});
        QCOMPARE(readFile(path), QByteArray("the picture"));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
