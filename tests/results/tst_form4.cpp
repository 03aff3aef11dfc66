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
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
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
    void deleteCommand_data();
    void deleteCommand();
    void deleteRefusesTheSameFileThroughALinkedFolder();
    void backToMain_data();
    void backToMain();
    void uncheckAll();
    void pointerOverListAndButtons_data();
    void pointerOverListAndButtons();
    void clickPreviewsAndClosingEndsEverything();
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

void TestForm4::deleteCommand_data()
{
    // Rows 0 to 3 are a, b (one group) and c, d (another).
    QTest::addColumn<QList<int>>("checked");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("trouble"); // what goes wrong, if anything
    QTest::addColumn<QList<int>>("moved");
    QTest::addColumn<QString>("question"); // in the confirmation; none asked when empty
    QTest::addColumn<QStringList>("reported"); // "row: reason" lines of the failure report
    const QString changed = QStringLiteral("it has changed since the search");
    QTest::newRow("two confirmed") << QList<int>{0, 2} << true << "" << QList<int>{0, 2} << "Move 2 checked files" << QStringList();
    QTest::newRow("cancelled") << QList<int>{0, 2} << false << "" << QList<int>() << "Move 2 checked files" << QStringList();
    QTest::newRow("nothing checked") << QList<int>() << true << "" << QList<int>() << "" << QStringList();
    QTest::newRow("a whole group") << QList<int>{0, 1, 2} << false << "" << QList<int>()
                                   << "Every copy is checked in 1 group of identical files" << QStringList();
    QTest::newRow("no trash can be made") << QList<int>{1} << true << "trash is a file" << QList<int>() << "Move 1 checked file"
                                          << QStringList{"1: "};
    QTest::newRow("first refused, second moves") << QList<int>{0, 3} << true << "refuse a" << QList<int>{3} << "Move 2"
                                                 << QStringList{"0: refused by the test"};
    QTest::newRow("changed since the search") << QList<int>{1, 3} << true << "b and d changed" << QList<int>() << "Move 2"
                                              << QStringList{"1: " + changed, "3: " + changed};
}

void TestForm4::deleteCommand()
{
    QFETCH(QList<int>, checked);
    QFETCH(bool, confirm);
    QFETCH(QString, trouble);
    QFETCH(QList<int>, moved);
    QFETCH(QString, question);
    QFETCH(QStringList, reported);
    Harness harness;
    harness.messages.defaultAnswer = confirm ? MessageBoxes::Answer::Ok : MessageBoxes::Answer::Cancel;
    QWidget main;
    Form4 form(harness.services, &main);
    Groups groups(form);
    const QString trashFolder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
    if (trouble == QLatin1String("trash is a file"))
        writeFile(trashFolder, "not a folder");
    if (trouble == QLatin1String("refuse a"))
        harness.trash.refuse = groups.paths[0];
    if (trouble == QLatin1String("b and d changed")) {
        QFile grown(groups.paths[1]);
        QVERIFY(grown.open(QIODevice::Append));
        grown.write(" and more");
        QVERIFY(QFile::remove(groups.paths[3])); // another file now stands at d's path
        writeFile(groups.paths[3], "other contents!");
    }
    for (int row : checked)
        form.results().SetCheckedByText(groups.paths[row], true);

    button(form, "Check1")->click();
    if (trouble == QLatin1String("trash is a file"))
        QFile::remove(trashFolder);

    QStringList expectedRows;
    std::vector<int> stillChecked;
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(QFile::exists(groups.paths[row]), !moved.contains(row));
        QCOMPARE(inTrash(groups.paths[row]), moved.contains(row));
        if (!moved.contains(row)) {
            if (checked.contains(row))
                stillChecked.push_back(int(expectedRows.size()));
            expectedRows << groups.paths[row];
        }
    }
    QCOMPARE(listed(form.results()), expectedRows); // exactly the rows of moved files leave
    QCOMPARE(form.results().checkedRows(), stillChecked);
    QVERIFY(allWhite(form.results()));
    QVERIFY(!button(form, "Check1")->isChecked());

    const std::size_t boxes = (question.isEmpty() ? 0 : 1) + (reported.isEmpty() ? 0 : 1);
    QCOMPARE(harness.messages.shown.size(), boxes);
    if (!question.isEmpty()) {
        QVERIFY2(harness.messages.shown[0].text.contains(question), qPrintable(harness.messages.shown[0].text));
        QCOMPARE(harness.messages.shown[0].buttons, MessageBoxes::Buttons::OkCancel);
    }
    if (!reported.isEmpty()) {
        const QString report = harness.messages.shown.back().text;
        for (const QString &line : reported) {
            const int row = line.section(QLatin1Char(':'), 0, 0).toInt();
            const QString expected = groups.paths[row] + QStringLiteral(": ") + line.section(QStringLiteral(": "), 1);
            QVERIFY2(report.contains(expected), qPrintable(report));
        }
        QVERIFY(report.contains(QStringLiteral("%1 not moved").arg(reported.size() == 1 ? "1 file was" : "2 files were")));
    }
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
    QCOMPARE(form.results().rowColour(3), QStringLiteral("blue"));
    QVERIFY(!button(form, "Check3")->isChecked());
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
        QImage hand(32, 32, QImage::Format_ARGB32);
        hand.fill(Qt::black);
        QByteArray data;
        QBuffer buffer(&data);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && hand.save(&buffer, "ico"));
        data[2] = 2; // an icon file turned into a cursor file
        writeFile(programFolder.filePath(QStringLiteral("HAND-M.CUR")), data);
    }
    Harness harness(programFolder.path());
    QWidget main;
    Form4 form(harness.services, &main);
    const Qt::CursorShape custom = cursorFile ? Qt::BitmapCursor : Qt::ArrowCursor;
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(form.list()->viewport()->cursor().shape(), custom);
    for (const char *name : {"Check1", "Check2", "Check3"})
        QCOMPARE(button(form, name)->cursor().shape(), custom);
}

void TestForm4::clickPreviewsAndClosingEndsEverything()
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
    form.results().addRow(picture, QStringLiteral("1 KB"), QStringLiteral("light blue"));
    form.results().addRow(dir.filePath(QStringLiteral("notes.txt")), QStringLiteral("4 bytes"), QStringLiteral("blue"));
    main.show();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget *viewport = form.list()->viewport();
    auto click = [&](int row) {
        const QPoint below(5, viewport->height() - 5);
        QTest::mouseClick(viewport, Qt::LeftButton, {},
                          row < 0 ? below : form.list()->visualRect(form.results().index(row, 1)).center());
    };

    click(-1); // nothing selected: the preview stays as it is
    QVERIFY(!preview.image()->hasPicture());
    click(0);
    QVERIFY(preview.image()->hasPicture());
    form.list()->clearSelection();
    click(-1);
    QVERIFY(preview.image()->hasPicture());
    click(1);
    QVERIFY(!preview.image()->hasPicture());
    QVERIFY(!preview.isVisible()); // a click never shows the preview window

    preview.show();
    QVERIFY(form.close());
    QVERIFY(!preview.isVisible());
    QVERIFY(!main.isVisible());
}

TWINFOLD_WIDGETS_TEST_MAIN(TestForm4)
#include "tst_form4.moc"
