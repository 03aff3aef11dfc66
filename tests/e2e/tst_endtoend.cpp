// One user's whole errand through the real windows and the real renderer: add a folder, find
// its duplicates, preview one, check all but the oldest copy of each group, spare one more,
// send them to the trash, undo it (one file's trash record now names another place), and go back.

#include "AppHarness.h"
#include "Form2.h"
#include "Form4.h"
#include "PictureBox.h"
#include "TestMain.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <QTreeView>

#include <map>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void findPreviewSendAndUndo();
};

void TestEndToEnd::findPreviewSendAndUndo()
{
    // Copies under other names in a chain of nested folders (so the collection order is known),
    // two empty files, a same-size near copy, unique files and a hidden copy.
    QTemporaryDir temporary;
    const QString root = temporary.filePath(QStringLiteral("Photos"));
    const auto at = [&root](const char *relative) { return root + QLatin1Char('/') + QString::fromUtf8(relative); };
    const QColor red(200, 30, 30);
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(red);
    QByteArray bmp;
    QBuffer bmpBuffer(&bmp);
    QVERIFY(bmpBuffer.open(QIODevice::WriteOnly) && picture.save(&bmpBuffer, "BMP"));
    const QByteArray draft = "Quarterly report, third draft\n";
    const std::tuple<const char *, QByteArray, int> tree[] = {
        {"holiday.bmp", bmp, 2015},
        {".thumbnail.bmp", bmp, 2009},
        {"notes.txt", "milk, eggs, film\n", 2000},
        {"Trip 2023/50%41 copy.bmp", bmp, 2010},
        {"Trip 2023/draft.doc", draft, 2020},
        {"Trip 2023/draft-v2.doc", "quarterly report, third draft\n", 2005},
        {"Trip 2023/Grüße/draft copy.txt", draft, 2011},
        {"Trip 2023/Grüße/empty-two", {}, 2019},
        {"Trip 2023/Grüße/Archive/draft (2).bak", draft, 2012},
        {"Trip 2023/Grüße/Archive/empty-one.log", {}, 2001},
    };
    std::map<QString, QByteArray> contents;
    for (const auto &[relative, data, year] : tree) {
        QVERIFY(writeFile(at(relative), data));
        QVERIFY(setFileTime(at(relative), QDateTime(QDate(year, 3, 5), QTime(14, 22)).toSecsSinceEpoch()));
        contents[at(relative)] = data;
    }

    AppHarness app;
    QVERIFY(app.openShown());
    app.addFolder(root);
    const QRect mainPlace = app.form->frameGeometry();
    QTest::mouseClick(app.button("Check1"), Qt::LeftButton); // FIND DUPES
    Form4 *results = topLevel<Form4>();
    Form2 *preview = topLevel<Form2>();
    QVERIFY(results && preview);
    QTRY_VERIFY_WITH_TIMEOUT(results->isVisible() && preview->isVisible() && !app.form->isVisible(), 5000);
    QVERIFY(QTest::qWaitForWindowExposed(results));
    QVERIFY(app.messages.shown.empty());
    // In the main window's place, the preview right below it, frames and all.
    QCOMPARE(results->frameGeometry(), mainPlace);
    QTRY_COMPARE_WITH_TIMEOUT(preview->frameGeometry().topLeft(), results->frameGeometry().bottomLeft() + QPoint(0, 1),
                              5000);

    // Each group in collection order, the groups by their first members; no hidden file.
    QTreeView *list = results->list();
    const QAbstractItemModel *model = list->model();
    const auto listedRows = [model] {
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString();
        return rows;
    };
    const QStringList found{at("holiday.bmp"),
                            at("Trip 2023/50%41 copy.bmp"),
                            at("Trip 2023/draft.doc"),
                            at("Trip 2023/Grüße/draft copy.txt"),
                            at("Trip 2023/Grüße/Archive/draft (2).bak"),
                            at("Trip 2023/Grüße/empty-two"),
                            at("Trip 2023/Grüße/Archive/empty-one.log")};
    QCOMPARE(listedRows(), found);

    // A click on the picture's row previews it.
    auto *image = preview->findChild<PictureBox *>(QStringLiteral("Image1"));
    QVERIFY(image);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(model->index(0, 0)).center());
    QTRY_VERIFY_WITH_TIMEOUT(image->hasPicture(), 5000);
    const QImage drawn = image->grab().toImage();
    QCOMPARE(drawn.pixelColor(drawn.rect().center()), red);

    // Ctrl+2: all but one, keeping the oldest; then Delete: SEND TO RECYCLING, confirmed.
    results->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(results));
    QTest::keySequence(results, QKeySequence(Qt::CTRL | Qt::Key_2));
    QStringList checked;
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            checked << model->index(row, 0).data().toString();
    QStringList sent{at("holiday.bmp"), at("Trip 2023/draft.doc"), at("Trip 2023/Grüße/Archive/draft (2).bak"),
                     at("Trip 2023/Grüße/empty-two")};
    QCOMPARE(checked, sent);
    // Space on a clicked row unchecks it: that copy is kept too.
    const QModelIndex spared = model->index(int(found.indexOf(sent[2])), 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(spared).center());
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(spared.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    sent.removeAt(2);
    app.messages.defaultAnswer = MessageBoxes::Answer::Ok;
    QTest::keyClick(results, Qt::Key_Delete);
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 20000); // the files move off the window's thread
    QCOMPARE(app.messages.shown.size(), std::size_t(2));
    QCOMPARE(app.messages.shown[0].text, QStringLiteral("Move 3 checked files (852 bytes) to the trash?"));
    QCOMPARE(app.messages.shown[0].buttons, MessageBoxes::Buttons::OkCancel);
    QCOMPARE(app.messages.shown[1].text,
             QStringLiteral("3 files were moved to the trash. Emptying the trash frees 852 bytes."));
    for (const auto &[path, data] : contents)
        QCOMPARE(readFile(sent.contains(path) ? trashEntry(path).storedFile : path), data);
    for (const QString &path : sent)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
    QStringList remaining = found;
    for (const QString &path : sent)
        remaining.removeOne(path);
    QCOMPARE(listedRows(), remaining);

    // Meanwhile the trash record of one file comes to name another place: that file stays.
    const TrashEntry moved = trashEntry(at("Trip 2023/draft.doc"));
    const QString info = trashFolder() + QStringLiteral("/info/") + QFileInfo(moved.storedFile).fileName()
        + QStringLiteral(".trashinfo");
    QVERIFY(writeFile(info, readFile(info).replace(moved.rawPath, QFile::encodeName(at("elsewhere.txt")))));

    // Ctrl+Z: the other files come back, to the same places, and so do their rows.
    QTest::keySequence(results, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QTRY_VERIFY_WITH_TIMEOUT(!results->busy(), 20000);
    QCOMPARE(app.messages.shown.size(), std::size_t(3));
    QCOMPARE(app.messages.shown[2].text,
             QStringLiteral("2 files were put back where they were.\n\n1 file was not put back:\n\n")
                 + at("Trip 2023/draft.doc") + QStringLiteral(": its trash record now names another place, ")
                 + at("elsewhere.txt") + QStringLiteral("; it stays in the trash"));
    for (const auto &[path, data] : contents)
        QCOMPARE(readFile(path), path == at("Trip 2023/draft.doc") ? QByteArray("<unreadable>") : data);
    QVERIFY(!QFileInfo::exists(at("elsewhere.txt")));
    QCOMPARE(readFile(moved.storedFile), draft);
    QStringList rowsBack = found;
    rowsBack.removeAll(at("Trip 2023/draft.doc"));
    QCOMPARE(listedRows(), rowsBack);

    // BACK TO MAIN.
    QTest::mouseClick(results->findChild<QAbstractButton *>(QStringLiteral("Check2")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(app.form->isVisible() && !results->isVisible(), 5000);
}

TWINFOLD_WIDGETS_TEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
