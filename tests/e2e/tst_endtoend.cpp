// One user's whole errand through the real windows: add a folder, find its duplicates,
// preview one, send one copy of two groups to the trash, and go back to the main window.

#include "AppHarness.h"
#include "Form2.h"
#include "Form4.h"
#include "PictureBox.h"
#include "TestMain.h"

#include <QBrush>
#include <QBuffer>
#include <QDateTime>
#include <QSet>
#include <QDirIterator>
#include <QImage>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <map>

#include <utime.h>

namespace {
const QColor PictureRed(200, 30, 30);

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

QAbstractButton *button(const QWidget &window, const char *name)
{
    return window.findChild<QAbstractButton *>(QLatin1String(name));
}
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void findPreviewAndTrashDuplicates();
    void keepOldestSendAndUndo();
};

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
    const auto byCollection = [&order](const QString &a, const QString &b) {
        return order.indexOf(a) < order.indexOf(b);
    };
    for (QStringList &group : groups)
        std::sort(group.begin(), group.end(), byCollection);
    std::sort(groups.begin(), groups.end(),
              [&](const QStringList &a, const QStringList &b) { return byCollection(a.first(), b.first()); });
    QStringList expectedRows;
    for (const QStringList &group : groups)
        expectedRows << group;

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
    const QAbstractItemModel *folders = main.findChild<QAbstractItemView *>(QStringLiteral("ListView3"))->model();
    QVERIFY(folders->rowCount() == 1 && folders->index(0, 0).data().toString() == root);

    // FIND DUPES: the results window takes the main window's place, the preview sits below it.
    const QRect mainPlace = main.frameGeometry();
    QTest::mouseClick(button(main, "Check1"), Qt::LeftButton);
    Form4 *results = topLevel<Form4>();
    Form2 *preview = topLevel<Form2>();
    QVERIFY(results && preview);
    QTRY_VERIFY_WITH_TIMEOUT(results->isVisible() && preview->isVisible() && !main.isVisible(), 5000);
    QVERIFY(QTest::qWaitForWindowExposed(results));
    QVERIFY(messages.shown.empty());
    QCOMPARE(main.windowTitle(), QStringLiteral("Twinfold 7.0")); // idle again
    QCOMPARE(main.findChild<QProgressBar *>(QStringLiteral("ProgressBar1"))->value(), 0);
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
    QCOMPARE(model->index(0, 1).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(242, 242, 255));

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
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 20000); // the files move off the window's thread
    QCOMPARE(messages.shown.size(), std::size_t(2));
    QVERIFY2(
        messages.shown[1].text.startsWith(QStringLiteral("2 files were moved to the trash. Emptying the trash frees ")),
        qPrintable(messages.shown[1].text));
    QVERIFY2(messages.shown[0].text.contains(QStringLiteral("2 checked files")), qPrintable(messages.shown[0].text));
    QCOMPARE(messages.shown[0].buttons, MessageBoxes::Buttons::OkCancel);

    QCOMPARE(QDir(trashFolder() + QStringLiteral("/files")).entryList(QDir::Files).size(), 2);
    for (const QString &path : {trashedPicture, trashedDraft}) {
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QCOMPARE(readFile(trashEntry(path).storedFile), contents[path]);
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
}

// Cleaning in a few actions: search, check all but the oldest copy of each group, send them
// to the trash, read the report, and undo it: every file is back where it was, but one whose
// trash record names another place.
void TestEndToEnd::keepOldestSendAndUndo()
{
    QTemporaryDir temporary;
    const QString root = temporary.filePath(QStringLiteral("Pictures"));
    const auto at = [&root](const char *relative) { return root + QLatin1Char('/') + QString::fromUtf8(relative); };
    const std::tuple<const char *, QByteArray, int> tree[] = {
        {"beach.jpg", "sand and sea", 2015},
        {"2010/beach.jpg", "sand and sea", 2010},
        {"copies/beach (1).jpg", "sand and sea", 2012},
        {"letter.txt", "Dear Ann,", 2020},
        {"old/letter.txt", "Dear Ann,", 2011},
        {"unique.txt", "only once", 2000},
    };
    std::map<QString, QByteArray> contents;
    for (const auto &[relative, data, year] : tree) {
        QVERIFY(writeFile(at(relative), data));
        const auto when = time_t(QDateTime(QDate(year, 3, 5), QTime(14, 22)).toSecsSinceEpoch());
        const utimbuf times{when, when};
        QVERIFY(::utime(QFile::encodeName(at(relative)).constData(), &times) == 0);
        contents[at(relative)] = data;
    }

    AppHarness app;
    QVERIFY(app.openShown());
    app.addFolder(root);
    app.button("Check1")->click(); // FIND DUPES
    Form4 *results = topLevel<Form4>();
    QVERIFY(results);
    QTRY_VERIFY_WITH_TIMEOUT(results->isVisible(), 5000);
    QVERIFY(QTest::qWaitForWindowExposed(results));
    const QAbstractItemModel *model = results->list()->model();
    const auto listedRows = [model] {
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString();
        return rows;
    };
    const QStringList found = listedRows();
    QCOMPARE(found.size(), 5);

    // Ctrl+2: all but one, keeping the oldest; then Delete: SEND TO RECYCLING.
    results->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(results));
    QTest::keySequence(results, QKeySequence(Qt::CTRL | Qt::Key_2));
    QStringList checked;
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            checked << model->index(row, 0).data().toString();
    const QStringList sent{at("beach.jpg"), at("copies/beach (1).jpg"), at("letter.txt")};
    QCOMPARE(QSet<QString>(checked.begin(), checked.end()), QSet<QString>(sent.begin(), sent.end()));
    app.messages.defaultAnswer = MessageBoxes::Answer::Ok;
    QTest::keyClick(results, Qt::Key_Delete);
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 20000);

    QCOMPARE(app.messages.shown.size(), std::size_t(2));
    QCOMPARE(app.messages.shown[0].text, QStringLiteral("Move 3 checked files (33 bytes) to the trash?"));
    QCOMPARE(app.messages.shown[1].text,
             QStringLiteral("3 files were moved to the trash. Emptying the trash frees 33 bytes."));
    for (const QString &path : sent)
        QVERIFY2(!QFileInfo::exists(path) && !trashEntry(path).storedFile.isEmpty(), qPrintable(path));
    QCOMPARE(listedRows().size(), 2);

    // Meanwhile the trash record of one file comes to name another place: that file stays.
    const TrashEntry letter = trashEntry(at("letter.txt"));
    const QString info = trashFolder() + QStringLiteral("/info/") + QFileInfo(letter.storedFile).fileName()
        + QStringLiteral(".trashinfo");
    QVERIFY(writeFile(info, readFile(info).replace(letter.rawPath, QFile::encodeName(at("elsewhere.txt")))));

    // Ctrl+Z: the other files come back, to the same places, and so do their rows.
    QTest::keySequence(results, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 20000);
    QCOMPARE(app.messages.shown.size(), std::size_t(3));
    QCOMPARE(app.messages.shown[2].text,
             QStringLiteral("2 files were put back where they were.\n\n1 file was not put "
                            "back:\n\n")
                 + at("letter.txt") + QStringLiteral(": its trash record now names another place, ")
                 + at("elsewhere.txt") + QStringLiteral("; it stays in the trash"));
    for (const auto &[path, data] : contents)
        QCOMPARE(readFile(path), path == at("letter.txt") ? QByteArray("<unreadable>") : data);
    QVERIFY(!QFileInfo::exists(at("elsewhere.txt")));
    QCOMPARE(readFile(letter.storedFile), QByteArray("Dear Ann,"));
    QStringList rowsBack = found;
    rowsBack.removeAll(at("letter.txt"));
    QCOMPARE(listedRows(), rowsBack);
}

TWINFOLD_WIDGETS_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
