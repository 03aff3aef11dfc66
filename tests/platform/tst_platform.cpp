#include "CursorFile.h"
#include "FileSystem.h"
#include "QtFolderDialog.h"
#include "QtMessageBoxes.h"
#include "SettingsStore.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QThread>

#include <unistd.h>

namespace {
// A one-image 32 x 32 cursor file with the given hotspot, as a cursor editor writes it.
QByteArray cursorFile(quint16 hotX, quint16 hotY)
{
    QByteArray image, file;
    QDataStream out(&image, QIODevice::WriteOnly), head(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    head.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << quint32(32) << quint32(64) << quint16(1) << quint16(32); // XOR and AND masks stacked
    for (quint32 i = 0; i < 6 + 32 * 32 + 32; ++i)
        out << (i < 6 || i >= 6 + 32 * 32 ? 0u : 0xFF000000u | (i - 6));
    head << quint16(0) << quint16(2) << quint16(1) << quint8(32) << quint8(32) << quint16(0) << hotX << hotY
         << quint32(image.size()) << quint32(22);
    return file + image;
}

} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void cursorFiles_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QPoint>("hotspot"); // null: no pointer
        const QByteArray good = cursorFile(1, 1);
        QTest::newRow("good") << cursorFile(5, 7) << QPoint(5, 7);
        QTest::newRow("missing") << QByteArray() << QPoint();
        QTest::newRow("empty") << QByteArray("") << QPoint();
        QTest::newRow("entry cut short") << good.left(14) << QPoint();
        QTest::newRow("image cut short") << good.left(200) << QPoint();
        QTest::newRow("offset past end") << QByteArray(good).replace(18, 4, "\xff\xff\x00\x00") << QPoint();
        QTest::newRow("icon, not cursor") << QByteArray(good).replace(2, 1, "\x01") << QPoint();
        QTest::newRow("no images") << QByteArray(good).replace(4, 1, QByteArray(1, '\0')) << QPoint();
        QTest::newRow("not a picture") << QByteArray(good.left(22)) + QByteArray(good.size() - 22, 'x') << QPoint();
    }
    void cursorFiles()
    {
        QFETCH(QByteArray, data);
        QFETCH(QPoint, hotspot);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("HAND-M.CUR"));
        if (!data.isNull())
            QVERIFY(writeFile(path, data));
        const auto cursor = loadCursorFile(path);
        QCOMPARE(cursor.has_value(), !hotspot.isNull());
        if (cursor) {
            QCOMPARE(cursor->hotSpot(), hotspot);
            QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
        }
    }

    void pathExists()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a b?.txt"));
        QVERIFY(writeFile(file, "x"));
        QVERIFY(PathExists(file) && PathExists(dir.path()));
        QVERIFY(!PathExists(dir.filePath(QStringLiteral("missing"))) && !PathExists(QString()));
    }

    // The user's settings file, as text a later run reads back. Every step of a resize writes
    // the window values; the file is rewritten once the steps pause, and when the store ends.
    void settingsRoundTripInTheUserFile()
    {
        QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmoor"));
        QCOMPARE(QtSettingsStore::userFileName(), file.fileName());
        QVERIFY2(file.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")), qPrintable(file.fileName()));
        const auto stored = [&file] {
            file.sync();
            return file.value(QStringLiteral("Twinfold/FormWidth")).toString();
        };
        {
            QtSettingsStore store;
            QVERIFY(!store.value(QStringLiteral("NeverWritten")).has_value());
            for (int width = 9000; width < 9100; ++width) {
                store.setValue(QStringLiteral("FormWidth"), QString::number(width));
                QCoreApplication::processEvents();
            }
            QCOMPARE(store.value(QStringLiteral("FormWidth")), QStringLiteral("9099"));
            QCOMPARE(stored(), QString());
            QTRY_COMPARE_WITH_TIMEOUT(stored(), QStringLiteral("9099"), 5000);
            store.setValue(QStringLiteral("FormWidth"), QStringLiteral("12000"));
        }
        QCOMPARE(stored(), QStringLiteral("12000"));
        QCOMPARE(QtSettingsStore().value(QStringLiteral("FormWidth")), QStringLiteral("12000"));
    }

    // A FIFO, a folder, or a file of many megabytes (seconds to read): over 1 MiB or not a
    // regular file, the settings file is left alone and this run keeps its values in memory.
    void settingsFileLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("read");
        QTest::newRow("FIFO") << QStringLiteral("fifo") << false;
        QTest::newRow("folder") << QStringLiteral("folder") << false;
        QTest::newRow("link to a FIFO") << QStringLiteral("link") << false;
        QTest::newRow("1 MiB") << QStringLiteral("1048576") << true;
        QTest::newRow("1 MiB and a byte") << QStringLiteral("1048577") << false;
    }
    void settingsFileLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(bool, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Quillmoor.ini"));
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
        const QByteArray values = "[Twinfold]\nFormWidth=1234\n;";
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        if (kind == QLatin1String("fifo"))
            QVERIFY(::rename(fifo.constData(), QFile::encodeName(path).constData()) == 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        else if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(QString::fromUtf8(fifo), path));
        else
            QVERIFY(writeFile(path, values + QByteArray(kind.toInt() - values.size() - 1, 'x') + '\n'));
        const auto contents = [&path] { return QFileInfo(path).isFile() ? readFile(path) : QByteArray("no file"); };
        const QByteArray before = contents();

        // A store that opened the FIFO would wait for a writer for ever: run it aside.
        bool usesFile = !read;
        std::optional<QString> stored, width;
        std::unique_ptr<QThread> aside(QThread::create([&] {
            QtSettingsStore store(path);
            usesFile = store.usesFile();
            stored = store.value(QStringLiteral("FormWidth"));
            store.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
            width = store.value(QStringLiteral("FormWidth"));
            store.flush();
        }));
        aside->start();
        if (!aside->wait(QDeadlineTimer(10000))) { // let the blocked open return before failing
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            aside->wait();
            ::close(writer);
            QFAIL("the settings store blocked on its file");
        }
        QCOMPARE(usesFile, read);
        QCOMPARE(stored.value_or(QString()), read ? QStringLiteral("1234") : QString());
        QCOMPARE(width, QStringLiteral("9000")); // kept for this run
        QCOMPARE(contents() == before, !read);   // never replaced or written
        QVERIFY(QFileInfo::exists(path));
    }

    // The dialog opens at home, then where the user chose last; never in the working directory.
    void folderDialogStartsAtHomeThenAtTheLastChoice()
    {
        QTemporaryDir home, work, chosen;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        const QString oldWork = QDir::currentPath();
        QDir::setCurrent(work.path());
        QStringList opened;
        QString answer;
        QTimer answerer;
        answerer.callOnTimeout([&] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                opened << QDir(dialog->directory()).canonicalPath();
                if (!answer.isEmpty())
                    dialog->setDirectory(answer);
                QMetaObject::invokeMethod(dialog, answer.isEmpty() ? "reject" : "accept");
            }
        });
        answerer.start(10);

        QtFolderDialog folderDialog;
        QCOMPARE(folderDialog.browseForFolder(QStringLiteral("Please select folder to add:")), QString());
        answer = chosen.path();
        QCOMPARE(QDir(folderDialog.browseForFolder({})).canonicalPath(), QDir(chosen.path()).canonicalPath());
        answer.clear();
        folderDialog.browseForFolder({});
        chosen.remove();
        folderDialog.browseForFolder({});

        QDir::setCurrent(oldWork);
        qputenv("HOME", oldHome);
        const QString homePath = QDir(home.path()).canonicalPath();
        QCOMPARE(opened, (QStringList{homePath, homePath, QDir(chosen.path()).absolutePath(), homePath}));
    }

    void messageBoxBearsApplicationTitleAndAnswers_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("press"); // 0: Esc
        QTest::addColumn<int>("answer");
        using B = MessageBoxes::Buttons;
        using A = MessageBoxes::Answer;
        QTest::newRow("ok, own title") << int(B::Ok) << QString() << int(QMessageBox::Ok) << int(A::Ok);
        QTest::newRow("yes") << int(B::YesNo) << QStringLiteral("Question") << int(QMessageBox::Yes) << int(A::Yes);
        QTest::newRow("escape on yes/no") << int(B::YesNo) << QStringLiteral("Question") << 0 << int(A::No);
        QTest::newRow("cancel") << int(B::OkCancel) << QString() << int(QMessageBox::Cancel) << int(A::Cancel);
        // clang-format on
    }
    void messageBoxBearsApplicationTitleAndAnswers()
    {
        QFETCH(int, buttons);
        QFETCH(QString, title);
        QFETCH(int, press);

        QString seen; // title: text
        QTimer answerer;
        answerer.callOnTimeout([&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                answerer.stop();
                seen = box->windowTitle() + QStringLiteral(": ") + box->text();
                if (press == 0)
                    QTest::keyClick(box, Qt::Key_Escape);
                else
                    box->button(static_cast<QMessageBox::StandardButton>(press))->click();
            }
        });
        answerer.start(10);
        QTimer::singleShot(5000, [] {
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });

        QtMessageBoxes boxes;
        const auto got = boxes.show(QStringLiteral("Hello"), static_cast<MessageBoxes::Buttons>(buttons), title,
                                    MessageBoxes::Icon::None);
        QTEST(int(got), "answer");
        QCOMPARE(seen, (title.isEmpty() ? QStringLiteral("Twinfold") : title) + QStringLiteral(": Hello"));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(PlatformTest)
#include "tst_platform.moc"
