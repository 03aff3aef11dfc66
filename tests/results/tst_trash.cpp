#include "TestMain.h"
#include "Trash.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestTrash : public QObject
{
    Q_OBJECT

private slots:
    void movesFileWithRestorableInfo_data();
    void movesFileWithRestorableInfo();
    void failureLeavesTheFile_data();
    void failureLeavesTheFile();

private:
    static QString trashFolder() { return QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath(QStringLiteral("Trash")); }
    static void writeFile(const QString &path, const QByteArray &data)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
};

void TestTrash::movesFileWithRestorableInfo_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "plain.txt";
    QTest::newRow("percent and space") << "50%41 b.txt"; // must come back as 50%41, not 50A
    QTest::newRow("non-ASCII") << QString::fromUtf8("\xc3\xbcn\xc3\xaf.txt");
}

void TestTrash::movesFileWithRestorableInfo()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    writeFile(path, "contents");

    SystemTrash trash;
    QString error;
    QVERIFY2(trash.moveToTrash(path, &error), qPrintable(error));
    QVERIFY(!QFile::exists(path));
    const QString trashed = trashFolder() + QStringLiteral("/files/") + name;
    QVERIFY(QFile::exists(trashed));
    QFile moved(trashed);
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), QByteArray("contents"));

    // The info file names the original place, percent-encoded, so a file manager restores it there.
    QFile info(trashFolder() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
    QVERIFY(info.open(QIODevice::ReadOnly | QIODevice::Text));
    QByteArray encoded;
    for (const QByteArray &line : info.readAll().split('\n')) {
        if (line.startsWith("Path="))
            encoded = line.mid(5);
    }
    QVERIFY(!encoded.isEmpty());
    QCOMPARE(QFile::decodeName(QByteArray::fromPercentEncoding(encoded)), path);
}

void TestTrash::failureLeavesTheFile_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::newRow("missing") << "missing";
    QTest::newRow("trash cannot be made") << "trash is a file";
    QTest::newRow("folder not writable") << "locked folder";
}

void TestTrash::failureLeavesTheFile()
{
    QFETCH(QString, trouble);
    if (trouble == QLatin1String("locked folder") && ::geteuid() == 0) {
        // Root ignores folder permissions: run this case again as user nobody.
        QProcess child;
        const QString testCase = QStringLiteral("failureLeavesTheFile:folder not writable");
        child.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(), testCase});
        if (!child.waitForStarted(10000))
            QSKIP("setpriv is not available");
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput() + child.readAllStandardError());
        if (output.contains(QStringLiteral("FAIL!")))
            QFAIL(qPrintable(output));
        if (!output.contains(QStringLiteral("PASS   : TestTrash::failureLeavesTheFile(folder not writable)")))
            QSKIP(qPrintable(QStringLiteral("could not run as user nobody: ") + output.left(300)));
        return;
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/photo.jpg");
    if (trouble != QLatin1String("missing"))
        writeFile(path, "keep me");
    if (trouble == QLatin1String("trash is a file")) {
        QDir(trashFolder()).removeRecursively();
        writeFile(trashFolder(), "not a folder");
    }
    if (trouble == QLatin1String("locked folder"))
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);

    SystemTrash trash;
    QString error;
    const bool moved = trash.moveToTrash(path, &error);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    if (trouble == QLatin1String("trash is a file"))
        QFile::remove(trashFolder());
    QVERIFY(!moved);
    QVERIFY(!error.isEmpty());
    if (trouble != QLatin1String("missing")) {
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep me"));
    }
}

TWINFOLD_GUILESS_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
