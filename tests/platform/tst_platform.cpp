#include "CursorFile.h"
#include "FileSystem.h"
#include "PictureButton.h"
#include "QtFolderDialog.h"
#include "QtMessageBoxes.h"
#include "SettingsStore.h"
#include "TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
template <typename T> void put(QByteArray &data, T v)
{
    char b[sizeof v];
    qToLittleEndian(v, b);
    data.append(b, sizeof v);
}
const auto put16 = put<quint16>;
const auto put32 = put<quint32>;

// A one-image 32 x 32 cursor file with the given hotspot, as a cursor editor writes it.
QByteArray cursorFile(quint16 hotX, quint16 hotY)
{
    QByteArray image;
    put32(image, 40);
    put32(image, 32);
    put32(image, 64); // XOR and AND masks stacked
    put16(image, 1);
    put16(image, 32);
    for (int i = 0; i < 6; ++i)
        put32(image, 0);
    for (int i = 0; i < 32 * 32; ++i)
        put32(image, 0xFF000000u | static_cast<quint32>(i));
    image.append(QByteArray(32 * 4, '\0'));

    QByteArray file;
    put16(file, 0);
    put16(file, 2);
    put16(file, 1);
    file.append(char(32)).append(char(32)).append(char(0)).append(char(0));
    put16(file, hotX);
    put16(file, hotY);
    put32(file, static_cast<quint32>(image.size()));
    put32(file, 22);
    return file + image;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write test file");
    return path;
}
} // namespace

class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void cursorFileGivesHotspot()
    {
        QTemporaryDir dir;
        const auto cursor = loadCursorFile(writeFile(dir, QStringLiteral("HAND-M.CUR"), cursorFile(5, 7)));
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->hotSpot(), QPoint(5, 7));
        QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
    }

    void brokenCursorFilesGiveNoPointer_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = cursorFile(1, 1);
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("entry cut short") << good.left(14);
        QTest::newRow("image cut short") << good.left(200);
        QTest::newRow("icon, not cursor") << QByteArray(good).replace(2, 1, "\x01");
        QTest::newRow("no images") << QByteArray(good).replace(4, 1, QByteArray(1, '\0'));
        QTest::newRow("offset past end") << QByteArray(good).replace(18, 4, "\xff\xff\x00\x00");
        QTest::newRow("not a picture") << QByteArray(good.left(22)) + QByteArray(good.size() - 22, 'x');
    }
    void brokenCursorFilesGiveNoPointer()
    {
        QFETCH(QByteArray, data);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("HAND-M.CUR"));
        if (!data.isNull())
            writeFile(dir, QStringLiteral("HAND-M.CUR"), data);
        QVERIFY(!loadCursorFile(path).has_value());
    }

    void pathExists()
    {
        QTemporaryDir dir;
        const QString file = writeFile(dir, QStringLiteral("a b?.txt"), "x");
        QVERIFY(PathExists(file));
        QVERIFY(PathExists(dir.path()));
        QVERIFY(!PathExists(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!PathExists(QString()));
    }

    void settingsRoundTripAsTextInTheUserFile()
    {
        QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmoor"));
        QCOMPARE(QtSettingsStore::userFileName(), file.fileName());
        QVERIFY2(file.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")), qPrintable(file.fileName()));
        {
            QtSettingsStore store;
            QVERIFY(store.usesFile());
            QVERIFY(!store.value(QStringLiteral("NeverWritten")).has_value());
            store.setValue(QStringLiteral("FormWidth"), QStringLiteral("12000"));
            QCOMPARE(store.value(QStringLiteral("FormWidth")), QStringLiteral("12000"));
        } // the last values reach the file when the store ends
        file.sync();
        QCOMPARE(file.value(QStringLiteral("Twinfold/FormWidth")).toString(), QStringLiteral("12000"));
        QtSettingsStore again;
        QCOMPARE(again.value(QStringLiteral("FormWidth")), QStringLiteral("12000"));
    }

    // Every step of a resize writes the window values; the file is rewritten once the steps pause.
    void settingsWritesAreCoalesced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Quillmoor.ini"));
        const auto stored = [&path] {
            QSettings file(path, QSettings::IniFormat);
            return file.value(QStringLiteral("Twinfold/FormWidth")).toString();
        };
        QtSettingsStore store(path, std::chrono::milliseconds(300));
        for (int width = 9000; width < 9100; ++width) {
            store.setValue(QStringLiteral("FormWidth"), QString::number(width));
            QCoreApplication::processEvents();
        }
        QCOMPARE(store.value(QStringLiteral("FormWidth")), QStringLiteral("9099"));
        QCOMPARE(stored(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(stored(), QStringLiteral("9099"), 5000);
    }

    void settingsFileThatIsNoRegularFileGivesDefaults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("link to a FIFO") << QStringLiteral("link");
    }
    void settingsFileThatIsNoRegularFileGivesDefaults()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Quillmoor.ini"));
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        if (kind == QLatin1String("fifo"))
            QVERIFY(::rename(fifo.constData(), QFile::encodeName(path).constData()) == 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        else
            QVERIFY(QFile::link(QString::fromUtf8(fifo), path));

        // A store that opened the FIFO would wait for a writer for ever: run it aside.
        std::atomic<bool> done{false};
        bool usesFile = true;
        std::optional<QString> width;
        std::thread start([&] {
            QtSettingsStore store(path);
            usesFile = store.usesFile();
            store.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
            width = store.value(QStringLiteral("FormWidth"));
            store.flush();
            done = true;
        });
        QDeadlineTimer deadline(10000);
        while (!done && !deadline.hasExpired())
            QThread::msleep(10);
        if (!done) { // let the blocked open return before failing
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            start.join();
            ::close(writer);
            QFAIL("the settings store blocked on its file");
        }
        start.join();
        QVERIFY(!usesFile);
        QCOMPARE(width, QStringLiteral("9000")); // kept for this run
        QFileInfo after(path);
        QVERIFY(after.exists() && !after.isFile()); // never replaced or written
    }

    // A settings file of many megabytes takes seconds to read: over 1 MiB it is left alone.
    void settingsFileOverOneMebibyteGivesDefaults_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("read");
        QTest::newRow("1 MiB") << 1048576 << true;
        QTest::newRow("1 MiB and a byte") << 1048577 << false;
    }
    void settingsFileOverOneMebibyteGivesDefaults()
    {
        QFETCH(int, size);
        QFETCH(bool, read);
        QTemporaryDir dir;
        const QByteArray values = "[Twinfold]\nFormWidth=1234\n;";
        const QByteArray contents = values + QByteArray(size - values.size() - 1, 'x') + '\n';
        const QString path = writeFile(dir, QStringLiteral("Quillmoor.ini"), contents);
        {
            QtSettingsStore store(path);
            QCOMPARE(store.usesFile(), read);
            QCOMPARE(store.value(QStringLiteral("FormWidth")).value_or(QString()),
                     read ? QStringLiteral("1234") : QString());
            store.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
        }
        QFile after(path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll() == contents, !read); // never rewritten when too large
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
        answerer.setInterval(10);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            opened << QDir(dialog->directory()).canonicalPath();
            if (answer.isEmpty()) {
                dialog->reject();
            } else {
                dialog->setDirectory(answer);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        });
        answerer.start();

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
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok, own title") << int(MessageBoxes::Buttons::Ok) << QString() << int(QMessageBox::Ok)
                                       << int(MessageBoxes::Answer::Ok);
        QTest::newRow("yes") << int(MessageBoxes::Buttons::YesNo) << QStringLiteral("Question") << int(QMessageBox::Yes)
                             << int(MessageBoxes::Answer::Yes);
        QTest::newRow("escape on yes/no")
            << int(MessageBoxes::Buttons::YesNo) << QStringLiteral("Question") << 0 << int(MessageBoxes::Answer::No);
        QTest::newRow("cancel") << int(MessageBoxes::Buttons::OkCancel) << QString() << int(QMessageBox::Cancel)
                                << int(MessageBoxes::Answer::Cancel);
    }
    void messageBoxBearsApplicationTitleAndAnswers()
    {
        QFETCH(int, buttons);
        QFETCH(QString, title);
        QFETCH(int, press);
        QFETCH(int, answer);

        QString seenTitle, seenText;
        QTimer answerer;
        answerer.setInterval(10);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            answerer.stop();
            seenTitle = box->windowTitle();
            seenText = box->text();
            if (press == 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(static_cast<QMessageBox::StandardButton>(press))->click();
        });
        answerer.start();
        QTimer::singleShot(5000, [] {
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });

        QtMessageBoxes boxes;
        const auto got = boxes.show(QStringLiteral("Hello"), static_cast<MessageBoxes::Buttons>(buttons), title,
                                    MessageBoxes::Icon::None);
        QCOMPARE(int(got), answer);
        QCOMPARE(seenText, QStringLiteral("Hello"));
        QCOMPARE(seenTitle, title.isEmpty() ? QStringLiteral("Twinfold") : title);
    }

    // A screen reader hears a push button with a press action; a click runs the command once,
    // the button already let up.
    void pictureButtonIsAPushButton()
    {
        PictureButton button(QStringLiteral(":/no-such-art.svg"));
        button.setAccessibleName(QStringLiteral("Find Dupes"));
        button.resize(113, 73);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(&button);
        QVERIFY(reader && reader->actionInterface());
        QCOMPARE(reader->role(), QAccessible::Button);
        QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Find Dupes"));
        const QStringList actions = reader->actionInterface()->actionNames();
        QVERIFY(actions.contains(QAccessibleActionInterface::pressAction()));
        QVERIFY(!actions.contains(QAccessibleActionInterface::toggleAction()));
        QVERIFY(!reader->state().checkable);
        int runs = 0;
        QObject::connect(&button, &QAbstractButton::clicked, [&] { runs += button.isDown() ? 100 : 1; });
        QTest::mouseClick(&button, Qt::LeftButton);
        reader->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(runs, 2); // pressed from the reader: let up a moment later, then run
        QVERIFY(!reader->state().checked && !reader->state().pressed);
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(PlatformTest)
#include "tst_platform.moc"
