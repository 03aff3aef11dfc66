// Times what protected folders and the unique list add at a million rows, offscreen:
//   bench_unique [ROWS]
// Prints, in milliseconds: filling the unique list from the search's table and showing it,
// marking the protected rows of the results, and checking every copy outside them. Each is
// one step of the event loop, so each figure is the longest pause it makes.

#include "CandidateTable.h"
#include "EventPump.h"
#include "MessageBoxes.h"
#include "ResultsModel.h"
#include "SelectionHelpers.h"
#include "UniqueFiles.h"
#include "UniqueFilesWindow.h"

#include "Desktop.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {
class NoMessages final : public MessageBoxes
{
public:
    Answer show(const QString &, Buttons, const QString &, Icon) override { return Answer::Cancel; }
};
class NoDesktop final : public Desktop
{
public:
    bool open(const QString &) override { return true; }
    bool reveal(const QString &) override { return true; }
    void copyText(const QString &) override {}
};
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::uint32_t rows = argc > 1 ? std::uint32_t(std::atol(argv[1])) : 1000000u;

    CandidateTable table;
    UniqueFiles unique;
    std::uint32_t folder = 0;
    for (std::uint32_t k = 0; k < rows; ++k) {
        if (k % 1000 == 0)
            folder = table.addFolder("/media/card/DCIM/" + QByteArray::number(k / 1000) + '/');
        table.addFile(folder, "IMG_" + QByteArray::number(k) + ".JPG", 4000000, 1, k + 1);
        unique.files.push_back(k);
        unique.bytes += 4000000;
    }
    NoDesktop desktop;
    NoMessages messages;
    UniqueFilesWindow window(desktop, messages);
    QElapsedTimer timer;
    timer.start();
    window.show(QStringLiteral("/media/card"), table, unique);
    QCoreApplication::processEvents();
    std::printf("unique list: %u rows filled and shown in %lld ms\n", rows, timer.elapsed());

    ResultsModel model;
    for (std::uint32_t k = 0; k < rows; ++k) {
        ResultRow row;
        row.collectionIndex = k;
        row.path = QStringLiteral("/home/me/%1/IMG_%2.JPG").arg(k % 2 ? "library" : "backup").arg(k);
        row.group = k / 2 + 1;
        model.addRow(row);
    }
    model.showRows();
    timer.restart();
    model.setProtection(ProtectedFiles({QStringLiteral("/home/me/library")}, {}));
    std::printf("protected rows marked in %lld ms\n", timer.elapsed());
    timer.restart();
    const ProtectedCheck done = checkOutsideProtected(model);
    std::printf("check every copy outside the protected folders: %d groups in %lld ms\n", done.groupsChecked,
                timer.elapsed());
    return 0;
}
