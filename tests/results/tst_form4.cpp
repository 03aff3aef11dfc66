#include "Fakes.h"
#include "Form2.h"
#include "Form4.h"
#include "EventPump.h"
#include "PictureBox.h"
#include "ResultsModel.h"
#include "Services.h"
#include "TestMain.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {
// The real trash, except for one path that it refuses, as a file in use would be.
class RefusingTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override
    {
        if (path == refuse) {
            if (errorText)
                *errorText = QStringLiteral("refused by the test");
            return false;
        }
        return system.moveToTrash(path, errorText);
    }
    SystemTrash system;
    QString refuse;
};

struct Harness
{
    explicit Harness(const QString &programFolder = QString()) : services{settings, messages, folders, screen, trash, pump, programFolder} {}
    MemorySettingsStore settings;
    FakeMessageBoxes messages;
    FakeFolderDialog folders;
    FakeScreen screen;
    RefusingTrash trash;
    QtEventPump pump;
    Services services;
};

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

// True when the trash holds a file whose info names this original path.
bool inTrash(const QString &path)
{
    const QDir trash(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash"));
    const auto infos = QDir(trash.filePath(QStringLiteral("info"))).entryInfoList({QStringLiteral("*.trashinfo")}, QDir::Files);
    for (const QFileInfo &info : infos) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("Path=") && QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5))) == path)
                return QFile::exists(trash.filePath(QStringLiteral("files/") + info.completeBaseName()));
        }
    }
    return false;
}

QAbstractButton *button(Form4 &form, const char *name)
{
    return form.findChild<QAbstractButton *>(QString::fromLatin1(name));
}

// Two groups of two identical files each: a, b ("light blue") and c, d ("blue").
struct Groups
{
    explicit Groups(Form4 &form)
    {
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            const QString path = dir.filePath(QString::fromLatin1(name));
            writeFile(path, name[0] < 'c' ? "first contents" : "second contents");
            paths << path;
        }
        ResultsModel &model = form.results();
        model.addRow(paths[0], QStringLiteral("14 bytes"), QStringLiteral("light blue"));
        model.addRow(paths[1], QStringLiteral("14 bytes"), QStringLiteral("light blue"));
        model.endGroup();
        model.addRow(paths[2], QStringLiteral("15 bytes"), QStringLiteral("blue"));
        model.addRow(paths[3], QStringLiteral("15 bytes"), QStringLiteral("blue"));
        model.endGroup();
    }
    QTemporaryDir dir;
    QStringList paths;
};

QStringList listed(const ResultsModel &model)
{
    QStringList paths;
    for (int row = 0; row < model.rows(); ++row)
        paths << model.path(row);
    return paths;
}

bool allWhite(const ResultsModel &model)
{
    for (int row = 0; row < model.rows(); ++row) {
        if (model.ColourForRow(row) || model.data(model.index(row, 0), Qt::BackgroundRole).isValid())
            return false;
    }
    return true;
}

// Gives the window this outer size in pixels, frame included.
void setOuterSize(QWidget &window, QSize outer)
{
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    window.resize(outer - frame);
    QCoreApplication::processEvents();
}
} // namespace

class TestForm4 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void layoutFollowsTheOuterSize_data();
    void layoutFollowsTheOuterSize();
    void deleteConfirmedMovesCheckedFiles();
    void deleteCancelledKeepsFilesAndRows();
    void deleteWithNothingChecked();
    void deleteWarnsWhenAWholeGroupIsChecked();
    void deleteReportsFileThatCannotMove();
    void deleteKeepsRowsOfFilesStillThere();
    void deleteRefusesFileChangedSinceTheSearch();
    void deleteRefusesTheSameFileThroughALinkedFolder();
    void backToMain_data();
    void backToMain();
    void uncheckAll();
    void pointerOverListAndButtons_data();
    void pointerOverListAndButtons();
    void clickPreviewsTheSelectedRow();
    void closingEndsWithEveryWindow();
};

void TestForm4::init()
{
    QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash")).removeRecursively();
}

void TestForm4::layoutFollowsTheOuterSize_data()
{
    // Outer size in twips; expected widths in twips, -1 where the size stays as it was.
    QTest::addColumn<int>("outerWidth");
    QTest::addColumn<int>("outerHeight");
    QTest::addColumn<int>("listWidth");
    QTest::addColumn<int>("listHeight");
    QTest::addColumn<double>("filename");
    QTest::addColumn<double>("size");
    QTest::newRow("12,000 wide") << 12000 << 9000 << 11640 << 7100 << 11640 * 95.0 / 90 - 3700 << -1.0;
    QTest::newRow("list 28,440") << 28800 << 9000 << 28440 << 7100 << 28440 * 95.0 / 90 - 3700 << 1040.0;
    QTest::newRow("list 22,200 hides Size") << 22560 << 9000 << 22200 << 7100 << 22200 * 95.0 / 90 - 3700 << 0.0;
    QTest::newRow("too small for the list") << 300 << 1500 << -1 << -1 << -1.0 << -1.0;
}

void TestForm4::layoutFollowsTheOuterSize()
{
    QFETCH(int, outerWidth);
    QFETCH(int, outerHeight);
    QFETCH(int, listWidth);
    QFETCH(int, listHeight);
    QFETCH(double, filename);
    QFETCH(double, size);
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    setOuterSize(form, {twipsToPixels(outerWidth), twipsToPixels(outerHeight)});
    QTreeView *list = form.list();
    const QSize listBefore = list->size();
    const int filenameBefore = list->columnWidth(0), sizeBefore = list->columnWidth(1);
    setOuterSize(form, {twipsToPixels(outerWidth), twipsToPixels(outerHeight)}); // laid out again: same result

    QCOMPARE(list->width(), listWidth < 0 ? listBefore.width() : twipsToPixels(listWidth));
    QCOMPARE(list->height(), listHeight < 0 ? listBefore.height() : twipsToPixels(listHeight));
    QVERIFY(qAbs(list->columnWidth(0) - (filename < 0 ? filenameBefore : twipsToPixels(filename))) <= 1);
    QVERIFY(qAbs(list->columnWidth(1) - (size < 0 ? sizeBefore : twipsToPixels(size))) <= 1);
    QCOMPARE(list->pos(), QPoint(twipsToPixels(120), twipsToPixels(1320)));
}

void TestForm4::deleteConfirmedMovesCheckedFiles()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    const QString oddName = groups.dir.filePath(QStringLiteral("50%41 e.txt"));
    writeFile(oddName, "second contents");
    form.results().addRow(oddName, QStringLiteral("15 bytes"), QStringLiteral("blue"));
    form.results().SetCheckedByText(groups.paths[0], true);
    form.results().SetCheckedByText(oddName, true);

    button(form, "Check1")->click();

    QCOMPARE(harness.messages.shown.size(), std::size_t(1)); // the confirmation, no failure report
    QVERIFY(harness.messages.shown[0].text.contains(QStringLiteral("2 checked files")));
    QCOMPARE(harness.messages.shown[0].buttons, MessageBoxes::Buttons::OkCancel);
    QVERIFY(!QFile::exists(groups.paths[0]));
    QVERIFY(!QFile::exists(oddName));
    QVERIFY(inTrash(groups.paths[0]));
    QVERIFY(inTrash(oddName));
    QCOMPARE(listed(form.results()), (QStringList{groups.paths[1], groups.paths[2], groups.paths[3]}));
    QVERIFY(allWhite(form.results()));
    QVERIFY(!button(form, "Check1")->isChecked());
}

void TestForm4::deleteCancelledKeepsFilesAndRows()
{
    Harness harness;
    harness.messages.defaultAnswer = MessageBoxes::Answer::Cancel;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    form.results().SetCheckedByText(groups.paths[0], true);
    form.results().SetCheckedByText(groups.paths[2], true);

    button(form, "Check1")->click();

    QCOMPARE(harness.messages.shown.size(), std::size_t(1));
    for (const QString &path : groups.paths)
        QVERIFY(QFile::exists(path));
    QCOMPARE(listed(form.results()), groups.paths);
    QCOMPARE(form.results().checkedRows(), (std::vector<int>{0, 2}));
    QVERIFY(allWhite(form.results()));
}

void TestForm4::deleteWithNothingChecked()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);

    button(form, "Check1")->click();

    QVERIFY(harness.messages.shown.empty()); // nothing would move, so nothing to confirm
    for (const QString &path : groups.paths)
        QVERIFY(QFile::exists(path));
    QCOMPARE(form.results().rows(), 4);
    QVERIFY(allWhite(form.results()));
}

void TestForm4::deleteWarnsWhenAWholeGroupIsChecked()
{
    Harness harness;
    harness.messages.defaultAnswer = MessageBoxes::Answer::Cancel;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    form.results().SetCheckedByText(groups.paths[2], true);
    button(form, "Check1")->click();
    QVERIFY(!harness.messages.shown.back().text.contains(QStringLiteral("Every copy")));

    form.results().SetCheckedByText(groups.paths[0], true);
    form.results().SetCheckedByText(groups.paths[1], true);
    button(form, "Check1")->click();
    const auto &shown = harness.messages.shown.back();
    QVERIFY(shown.text.contains(QStringLiteral("3 checked files")));
    QVERIFY(shown.text.contains(QStringLiteral("Every copy is checked in 1 group")));
    QVERIFY(shown.text.contains(groups.paths[0]) && shown.text.contains(groups.paths[1]));
    QVERIFY(!shown.text.contains(groups.paths[2]));
    QCOMPARE(shown.icon, MessageBoxes::Icon::Warning);
}

void TestForm4::deleteReportsFileThatCannotMove()
{
    // A plain file where the trash folder belongs: no file can be moved.
    const QString trashFolder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
    writeFile(trashFolder, "not a folder");
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    form.results().SetCheckedByText(groups.paths[1], true);

    button(form, "Check1")->click();
    QFile::remove(trashFolder);

    QCOMPARE(harness.messages.shown.size(), std::size_t(2));
    const auto &report = harness.messages.shown[1];
    QVERIFY(report.text.contains(QStringLiteral("1 file was not moved")));
    QVERIFY(report.text.contains(groups.paths[1]));
    QVERIFY(QFile::exists(groups.paths[1]));
    QCOMPARE(listed(form.results()), groups.paths);
    QVERIFY(allWhite(form.results()));
}

void TestForm4::deleteKeepsRowsOfFilesStillThere()
{
    // The first checked file stays, the second goes: exactly the second row leaves.
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    harness.trash.refuse = groups.paths[0];
    form.results().SetCheckedByText(groups.paths[0], true);
    form.results().SetCheckedByText(groups.paths[3], true);

    button(form, "Check1")->click();

    QVERIFY(QFile::exists(groups.paths[0]));
    QVERIFY(inTrash(groups.paths[3]));
    QCOMPARE(listed(form.results()), (QStringList{groups.paths[0], groups.paths[1], groups.paths[2]}));
    QCOMPARE(form.results().checkedRows(), std::vector<int>{0});
    QCOMPARE(harness.messages.shown.size(), std::size_t(2));
    QVERIFY(harness.messages.shown[1].text.contains(groups.paths[0] + QStringLiteral(": refused by the test")));
    QVERIFY(!harness.messages.shown[1].text.contains(groups.paths[3]));
}

void TestForm4::deleteRefusesFileChangedSinceTheSearch()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    // After the search, b gets other contents and d is replaced by another file.
    {
        QFile grown(groups.paths[1]);
        QVERIFY(grown.open(QIODevice::Append));
        grown.write(" and more");
    }
    QVERIFY(QFile::remove(groups.paths[3]));
    writeFile(groups.paths[3], "other contents!");
    form.results().SetCheckedByText(groups.paths[1], true);
    form.results().SetCheckedByText(groups.paths[3], true);

    button(form, "Check1")->click();

    QVERIFY(QFile::exists(groups.paths[1]));
    QVERIFY(QFile::exists(groups.paths[3]));
    QCOMPARE(form.results().rows(), 4);
    const QString report = harness.messages.shown.back().text;
    QVERIFY(report.contains(QStringLiteral("2 files were not moved")));
    QVERIFY(report.contains(groups.paths[1] + QStringLiteral(": it has changed since the search")));
    QVERIFY(report.contains(groups.paths[3] + QStringLiteral(": it has changed since the search")));
}

void TestForm4::deleteRefusesTheSameFileThroughALinkedFolder()
{
    // One folder listed directly and through a link: its file shows up twice but is one file.
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("real")), dir.filePath(QStringLiteral("link"))));
    const QString real = dir.filePath(QStringLiteral("real/photo.jpg"));
    const QString viaLink = dir.filePath(QStringLiteral("link/photo.jpg"));
    writeFile(real, "the only copy");
    form.results().addRow(real, QStringLiteral("13 bytes"), QStringLiteral("light blue"));
    form.results().addRow(viaLink, QStringLiteral("13 bytes"), QStringLiteral("light blue"));
    form.results().SetCheckedByText(viaLink, true);

    button(form, "Check1")->click();

    QVERIFY(QFile::exists(real));
    QCOMPARE(form.results().rows(), 2);
    QVERIFY(harness.messages.shown.back().text.contains(viaLink + QStringLiteral(": it is the same file as ") + real));
}

void TestForm4::backToMain_data()
{
    QTest::addColumn<bool>("maximised");
    QTest::newRow("normal") << false;
    QTest::newRow("maximised") << true;
}

void TestForm4::backToMain()
{
    QFETCH(bool, maximised);
    Harness harness;
    QWidget main;
    main.setWindowState(maximised ? Qt::WindowNoState : Qt::WindowMaximized);
    Form4 form(harness.services, &main);
    Groups groups(form);
    form.results().SetCheckedByText(groups.paths[0], true);
    form.setGeometry(90, 70, 640, 480);
    if (maximised)
        form.showMaximized();
    else
        form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect outer = form.frameGeometry();

    button(form, "Check2")->click();
    QCoreApplication::processEvents();

    QVERIFY(main.isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(main.isMaximized(), maximised);
    if (!maximised)
        QTRY_COMPARE_WITH_TIMEOUT(main.frameGeometry(), outer, 5000);
    // Hidden, not closed: rows and check marks stay.
    QCOMPARE(form.results().rows(), 4);
    QCOMPARE(form.results().checkedRows(), std::vector<int>{0});
    QVERIFY(!button(form, "Check2")->isChecked());
}

void TestForm4::uncheckAll()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    for (const QString &path : groups.paths)
        form.results().SetCheckedByText(path, true);

    button(form, "Check3")->click();

    QVERIFY(form.results().checkedRows().empty());
    QCOMPARE(listed(form.results()), groups.paths);
    QCOMPARE(form.results().rowColour(0), QStringLiteral("light blue"));
    QCOMPARE(form.results().rowColour(3), QStringLiteral("blue"));
    QVERIFY(!button(form, "Check3")->isChecked());
    QVERIFY(harness.messages.shown.empty());
}

void TestForm4::pointerOverListAndButtons_data()
{
    QTest::addColumn<bool>("cursorFile");
    QTest::newRow("HAND-M.CUR present") << true;
    QTest::newRow("no cursor file") << false;
}

void TestForm4::pointerOverListAndButtons()
{
    QFETCH(bool, cursorFile);
    QTemporaryDir programFolder;
    if (cursorFile) {
        // An icon file turned into a cursor file: type 2, hotspot (3, 4).
        QImage hand(32, 32, QImage::Format_ARGB32);
        hand.fill(Qt::black);
        const QString path = programFolder.filePath(QStringLiteral("HAND-M.CUR"));
        QVERIFY(QImageWriter(path, "ico").write(hand));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray data = file.readAll();
        data[2] = 2;
        data[6 + 4] = 3;
        data[6 + 5] = 0;
        data[6 + 6] = 4;
        data[6 + 7] = 0;
        file.seek(0);
        file.write(data);
    }
    Harness harness(programFolder.path());
    QWidget main;
    Form4 form(harness.services, &main);
    const Qt::CursorShape custom = cursorFile ? Qt::BitmapCursor : Qt::ArrowCursor;
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(form.list()->viewport()->cursor().shape(), custom);
    for (const char *name : {"Check1", "Check2", "Check3"})
        QCOMPARE(button(form, name)->cursor().shape(), custom);
    if (cursorFile)
        QCOMPARE(form.list()->viewport()->cursor().hotSpot(), QPoint(3, 4));
}

void TestForm4::clickPreviewsTheSelectedRow()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Form2 preview;
    form.setPreview(&preview);
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("photo.JPG"));
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(picture, "JPEG"));
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    writeFile(text, "text");
    form.results().addRow(picture, QStringLiteral("1 KB"), QStringLiteral("light blue"));
    form.results().addRow(text, QStringLiteral("4 bytes"), QStringLiteral("blue"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView *list = form.list();
    auto clickRow = [&](int row) {
        const QRect cell = list->visualRect(form.results().index(row, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    };

    // With nothing selected a click elsewhere leaves the preview as it is.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 5));
    QVERIFY(!preview.image()->hasPicture());
    clickRow(0);
    QVERIFY(preview.image()->hasPicture());
    list->clearSelection();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 5));
    QVERIFY(preview.image()->hasPicture());
    clickRow(1);
    QVERIFY(!preview.image()->hasPicture());
    QVERIFY(!preview.isVisible()); // a click never shows the preview window
}

void TestForm4::closingEndsWithEveryWindow()
{
    Harness harness;
    QWidget main;
    Form4 form(harness.services, &main);
    Form2 preview;
    form.setPreview(&preview);
    main.show();
    form.show();
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QVERIFY(form.close());

    QVERIFY(!form.isVisible());
    QVERIFY(!preview.isVisible());
    QVERIFY(!main.isVisible());
}

TWINFOLD_WIDGETS_TEST_MAIN(TestForm4)
#include "tst_form4.moc"
