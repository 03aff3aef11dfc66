// Times the results window with many rows, offscreen:
//   bench_results [ROWS] [--pumped]
// ROWS (default 1,000,000) rows in groups of two and three, added through the matching's
// sink; with --pumped, events are processed every 10 ms while rows arrive, as during a search.
// Prints, in milliseconds: adding the rows, from the last row to the first paint of the shown
// window, and every selection helper and the delete command's planning on that list.

#include "BenchServices.h"
#include "Desktop.h"
#include "EventPump.h"
#include "FolderDialog.h"
#include "Form4.h"
#include "MessageBoxes.h"
#include "RecyclingBin.h"
#include "ResultsModel.h"
#include "Screen.h"
#include "SelectionHelpers.h"
#include "Services.h"
#include "SettingsStore.h"
#include "Trash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {
class NoMessages final : public MessageBoxes
{
public:
    Answer show(const QString &, Buttons, const QString &, Icon) override { return Answer::Cancel; }
};

// Counts paints of a widget.
class PaintWatch final : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        painted += event->type() == QEvent::Paint;
        return false;
    }
    int painted = 0;
};

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Wall-clock milliseconds; the CPU milliseconds go to *cpu (a busy machine stretches the first).
double timed(const std::function<void()> &work, double *cpu)
{
    QElapsedTimer timer;
    const double cpuBefore = cpuMs();
    timer.start();
    work();
    *cpu = cpuMs() - cpuBefore;
    return double(timer.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 1000000;
    const bool pumped = args.contains(QStringLiteral("--pumped"));

    MemorySettingsStore settings;
    NoMessages messages;
    NoDialog dialog;
    QtScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    NoDesktop desktop;
    Services services{settings, messages, dialog, screen, trash, pump, QString(), &desktop};
    QWidget main;
    Form4 form(services, &main);
    ResultsModel &model = form.results();
    model.clearRows();

    // The rows as the matching hands them over: identity as read, no texts.
    std::vector<ResultRow> input(static_cast<std::size_t>(rows));
    std::uint32_t group = 0;
    for (int i = 0; i < rows; ++i) {
        ResultRow &row = input[static_cast<std::size_t>(i)];
        if (i % 5 == 0 || i % 5 == 2)
            ++group; // groups of two and three
        row.collectionIndex = std::uint32_t(i);
        row.group = group;
        row.path = QStringLiteral("/home/user/Pictures/%1/IMG_%2.jpg").arg(i % 997).arg(i, 7, 10, QLatin1Char('0'));
        row.size = 1000000 + i % 5000;
        row.identity.valid = true;
        row.identity.device = 2049;
        row.identity.inode = std::uint64_t(i) + 100;
        row.identity.size = row.size;
        row.identity.mtimeSeconds = 1600000000 + (i * 7919) % 100000000;
    }

    QElapsedTimer sincePump;
    sincePump.start();
    double addingCpu = 0, shownCpu = 0;
    const double adding = timed(
        [&] {
            for (const ResultRow &row : input) {
                model.addRow(row);
                if (pumped && sincePump.elapsed() >= 10) {
                    QCoreApplication::processEvents();
                    sincePump.restart();
                }
            }
        },
        &addingCpu);

    PaintWatch watch;
    form.list()->viewport()->installEventFilter(&watch);
    const double shown = timed(
        [&] {
            form.show();
            while (watch.painted == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        },
        &shownCpu);
    std::printf("rows %d%s (milliseconds: wall, cpu)\nadding %.1f %.1f\nlast row to first paint %.1f %.1f\n", rows,
                pumped ? " (pumped)" : "", adding, addingCpu, shown, shownCpu);

    const QString folder = QStringLiteral("/home/user/Pictures/13");
    const std::pair<const char *, std::function<void()>> helpers[] = {
        {"all but one, first listed", [&] { checkAllButOne(model, KeepRule::FirstListed); }},
        {"all but one, oldest", [&] { checkAllButOne(model, KeepRule::Oldest); }},
        {"all but one, newest", [&] { checkAllButOne(model, KeepRule::Newest); }},
        {"all but one, shortest path", [&] { checkAllButOne(model, KeepRule::ShortestPath); }},
        {"uncheck all", [&] { model.uncheckAll(); }},
        {"every copy in a folder", [&] { checkByFolder(model, folder, FolderSide::Inside); }},
        {"every copy outside a folder", [&] { checkByFolder(model, folder, FolderSide::Outside); }},
        {"uncheck a group", [&] { uncheckGroup(model, rows / 2); }},
        {"next fully checked group",
         [&] {
             model.uncheckAll();
             nextFullyCheckedGroup(model, 0);
         }},
        {"delete planning, all but one checked",
         [&] {
             checkAllButOne(model, KeepRule::FirstListed);
             const DeletePlan plan = planDeletion(model);
             std::fprintf(stderr, "(%zu requests)\n", plan.requests.size());
         }},
        {"all rows white and a repaint",
         [&] {
             model.setAllRowColours(QStringLiteral("white"));
             form.list()->viewport()->repaint();
         }},
    };
    for (const auto &[name, work] : helpers) {
        double cpu = 0;
        const double ms = timed(work, &cpu);
        QCoreApplication::processEvents();
        std::printf("%s %.1f %.1f\n", name, ms, cpu);
    }
    return 0;
}
