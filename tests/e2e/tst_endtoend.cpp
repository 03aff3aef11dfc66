// One user's whole errand through the real windows: add a folder, find its duplicates,
// preview one, send one copy of two groups to the trash, and go back to the main window.

#include "EventPump.h"
#include "Fakes.h"
#include "Form1.h"
#include "Form2.h"
#include "Form4.h"
#include "PictureBox.h"
#include "Services.h"
#include "SettingsStore.h"
#include "TestMain.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QBrush>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <map>

namespace {
const QColor LightBlue(242, 242, 255);
const QColor Blue(212, 234, 255);
const QColor PictureRed(200, 30, 30);

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The order a search collects files in: a folder's own files as the file system lists them,
// then each subfolder in listing order, depth-first. Hidden entries are left out.
QStringList collectionOrder(const QString &folder)
{
    QStringList files, subfolders;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        (it.fileInfo().isDir() ? subfolders : files) << it.filePath();
    }
    for (const QString &subfolder : subfolders)
        files << collectionOrder(subfolder);
    return files;
}

template <class T>
T *topLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (T *found = qobject_cast<T *>(widget))
            return found;
    return nullptr;
}

QAbstractButton *button(const QWidget &window, const char *name)
{
    return window.findChild<QAbstractButton *>(QLatin1String(name));
}

// A Path= value a URI parser reads back unchanged: only characters a URI path may hold as
// they are, everything else as %XX.
bool isUriEscaped(const QByteArray &value)
{
    static const QByteArray asIs = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~/!$&'()*+,;=:@";
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '%') {
            if (i + 2 >= value.size() || !isxdigit(uchar(value[i + 1])) || !isxdigit(uchar(value[i + 2])))
                return false;
            i += 2;
        } else if (!asIs.contains(value[i])) {
            return false;
        }
    }
    return true;
}

struct TrashEntry
{
    QByteArray rawPath; // as the .trashinfo holds it
    QString storedFile; // under Trash/files
};

// What the home trash holds, by the original path its .trashinfo names.
std::map<QString, TrashEntry> trashContents()
{
    std::map<QString, TrashEntry> entries;
    const QDir trash(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash"));
    const QFileInfoList infos =
        QDir(trash.filePath(QStringLiteral("info"))).entryInfoList({QStringLiteral("*.trashinfo")}, QDir::Files);
    for (const QFileInfo &info : infos) {
        const QList<QByteArray> lines = readFile(info.filePath()).split('\n');
        if (lines.value(0) != "[Trash Info]")
            continue;
        for (const QByteArray &line : lines) {
            if (line.startsWith("Path=")) {
                const QByteArray raw = line.mid(5);
                entries[QFile::decodeName(QByteArray::fromPercentEncoding(raw))] =
                    TrashEntry{raw, trash.filePath(QStringLiteral("files/") + info.completeBaseName())};
            }
        }
    }
    return entries;
}
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void findPreviewAndTrashDuplicates();
};

void TestEndToEnd::init()
{
    QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash")).removeRecursively();
}

void TestEndToEnd::findPreviewAndTrashDuplicates()
{
    // A small photo folder: a picture and a document in several copies under other names and
    // in nested folders, two empty files, a same-size near copy, unique files and a hidden copy.
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString root = temporary.filePath(QStringLiteral("Photos"));
    const auto at = [&root](const char *relative) { return root + QLatin1Char('/') + QString::fromUtf8(relative); };
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(PictureRed);
    QByteArray bmp;
    QBuffer bmpBuffer(&bmp);
    QVERIFY(bmpBuffer.open(QIODevice::WriteOnly) && picture.save(&bmpBuffer, "BMP"));
    const QByteArray draft = "Quarterly report, third draft\n";
    QByteArray nearCopy = draft;
    nearCopy[0] = 'q';
    const std::pair<const char *, QByteArray> tree[] = {
        {"holiday.bmp", bmp},
        {".thumbnail.bmp", bmp},
        {"notes.txt", "milk, eggs, film\n"},
        {"empty-one.log", {}},
        {"Trip 2023/50%41 copy.bmp", bmp},
        {"Trip 2023/draft.doc", draft},
        {"Trip 2023/draft-v2.doc", nearCopy},
        {"Trip 2023/Grüße/draft copy.txt", draft},
        {"Trip 2023/Grüße/empty-two", {}},
        {"Archive/old/draft (2).bak", draft},
        {"Archive/old/unique.dat", "only one of these"},
    };
    std::map<QString, QByteArray> contents;
    for (const auto &[relative, data] : tree) {
        QVERIFY(writeFile(at(relative), data));
        contents[at(relative)] = data;
    }
    const QString trashedPicture = at("Trip 2023/50%41 copy.bmp");
    const QString trashedDraft = at("Trip 2023/Grüße/draft copy.txt");

    // Rows expected: each group in collection order, the groups by their first members.
    const QStringList order = collectionOrder(root);
    QCOMPARE(order.size(), qsizetype(std::size(tree) - 1));
    std::vector<QStringList> groups{{at("holiday.bmp"), trashedPicture},
                                    {at("Trip 2023/draft.doc"), trashedDraft, at("Archive/old/draft (2).bak")},
                                    {at("empty-one.log"), at("Trip 2023/Grüße/empty-two")}};
    const auto byCollection = [&order](const QString &a, const QString &b) { return order.indexOf(a) < order.indexOf(b); };
    for (QStringList &group : groups)
        std::sort(group.begin(), group.end(), byCollection);
    std::sort(groups.begin(), groups.end(),
              [&](const QStringList &a, const QStringList &b) { return byCollection(a.first(), b.first()); });
    // Groups of one are no duplicates; the colours alternate from "light blue" on.
    const auto rowsOf = [](const std::vector<QStringList> &groups, QList<QColor> *colours) {
        QStringList rows;
        for (const QStringList &group : groups) {
            if (group.size() < 2)
                continue;
            const QColor colour = colours->size() == 0 || colours->last() == Blue ? LightBlue : Blue;
            for (const QString &path : group) {
                rows << path;
                *colours << colour;
            }
        }
        return rows;
    };
    QList<QColor> expectedColours;
    const QStringList expectedRows = rowsOf(groups, &expectedColours);

    QtSettingsStore settings;
    FakeMessageBoxes messages;
    FakeFolderDialog dialog;
    FakeScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    Services services{settings, messages, dialog, screen, trash, pump, QString()};
    Form1 main(services);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    // ADD FOLDER, answered with the photo folder.
    dialog.answers.push_back(root);
    QTest::mouseClick(button(main, "Check2"), Qt::LeftButton);
    const auto *folders = main.findChild<QAbstractItemView *>(QStringLiteral("ListView3"));
    QVERIFY(folders);
    QCOMPARE(folders->model()->rowCount(), 1);
    QCOMPARE(folders->model()->index(0, 0).data().toString(), root);

    // FIND DUPES: the results window takes the main window's place, the preview sits below it.
    const QRect mainPlace = main.frameGeometry();
    QTest::mouseClick(button(main, "Check1"), Qt::LeftButton);
    Form4 *results = topLevel<Form4>();
    Form2 *preview = topLevel<Form2>();
    QVERIFY(results && preview);
    QTRY_VERIFY_WITH_TIMEOUT(results->isVisible() && preview->isVisible() && !main.isVisible(), 5000);
    QVERIFY(QTest::qWaitForWindowExposed(results));
    QVERIFY(messages.shown.empty());
    QCOMPARE(main.windowTitle(), QStringLiteral("Twinfold 7.0"));
    QCOMPARE(results->frameGeometry(), mainPlace);
    QTRY_COMPARE_WITH_TIMEOUT(preview->frameGeometry().topLeft(),
                              QPoint(results->frameGeometry().left(), results->frameGeometry().bottom() + 1), 5000);

    auto *list = results->findChild<QTreeView *>(QStringLiteral("ListView1"));
    QVERIFY(list);
    const QAbstractItemModel *model = list->model();
    const auto listedRows = [model] {
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString();
        return rows;
    };
    QCOMPARE(listedRows(), expectedRows);
    const auto compareColours = [model](const QList<QColor> &colours) {
        QCOMPARE(model->rowCount(), colours.size());
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column = 0; column < 2; ++column) {
                const QVariant background = model->index(row, column).data(Qt::BackgroundRole);
                QVERIFY2(background.canConvert<QBrush>(), qPrintable(model->index(row, 0).data().toString()));
                QCOMPARE(background.value<QBrush>().color(), colours[row]);
            }
        }
    };
    compareColours(expectedColours);

    // A click on the picture's row previews it.
    const auto clickRow = [&](const QString &path) {
        const QModelIndex index = model->index(int(listedRows().indexOf(path)), 0);
        QVERIFY(index.isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    };
    auto *image = preview->findChild<PictureBox *>(QStringLiteral("Image1"));
    QVERIFY(image);
    clickRow(at("holiday.bmp"));
    QTRY_VERIFY_WITH_TIMEOUT(image->hasPicture(), 5000);
    const QImage drawn = image->grab().toImage();
    QCOMPARE(drawn.pixelColor(drawn.rect().center()), PictureRed);

    // One copy of each non-empty group is checked, as a user does: click the row, press Space.
    for (const QString &path : {trashedPicture, trashedDraft}) {
        clickRow(path);
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(list->currentIndex().data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    }
    QVERIFY(!image->hasPicture()); // the last row clicked is no picture

    // SEND TO RECYCLING, confirmed.
    messages.defaultAnswer = MessageBoxes::Answer::Ok;
    QTest::mouseClick(button(*results, "Check1"), Qt::LeftButton);
    QCOMPARE(messages.shown.size(), std::size_t(1));
    QVERIFY2(messages.shown[0].text.contains(QStringLiteral("2 checked files")), qPrintable(messages.shown[0].text));
    QCOMPARE(messages.shown[0].buttons, MessageBoxes::Buttons::OkCancel);

    const std::map<QString, TrashEntry> trashed = trashContents();
    QCOMPARE(trashed.size(), std::size_t(2));
    for (const QString &path : {trashedPicture, trashedDraft}) {
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        const auto entry = trashed.find(path);
        QVERIFY2(entry != trashed.end(), qPrintable(path));
        QVERIFY2(isUriEscaped(entry->second.rawPath), entry->second.rawPath.constData());
        QCOMPARE(readFile(entry->second.storedFile), contents[path]);
    }
    for (const auto &[path, data] : contents) {
        if (path != trashedPicture && path != trashedDraft)
            QCOMPARE(readFile(path), data);
    }

    // Their rows leave; the rest stay in order, all white, none checked.
    QStringList remaining = expectedRows;
    remaining.removeOne(trashedPicture);
    remaining.removeOne(trashedDraft);
    QCOMPARE(listedRows(), remaining);
    for (int row = 0; row < model->rowCount(); ++row) {
        QVERIFY2(!model->index(row, 0).data(Qt::BackgroundRole).isValid(), qPrintable(remaining[row]));
        QVERIFY(!model->index(row, 1).data(Qt::BackgroundRole).isValid());
        QCOMPARE(model->index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    }

    // BACK TO MAIN.
    QTest::mouseClick(button(*results, "Check2"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(main.isVisible() && !results->isVisible(), 5000);
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    // FIND DUPES once more: what is left is grouped and coloured afresh, the lone picture is not listed.
    for (QStringList &group : groups) {
        group.removeOne(trashedPicture);
        group.removeOne(trashedDraft);
    }
    QList<QColor> coloursAfter;
    const QStringList rowsAfter = rowsOf(groups, &coloursAfter);
    QTest::mouseClick(button(main, "Check1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(results->isVisible() && !main.isVisible(), 5000);
    QCOMPARE(listedRows(), rowsAfter);
    compareColours(coloursAfter);
    QCOMPARE(messages.shown.size(), std::size_t(1));
}

TWINFOLD_WIDGETS_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
