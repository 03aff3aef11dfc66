// The window's thread while many files go to the trash and come back, offscreen:
//   bench_send [FILES] [--gio]
// Lists FILES (default 200,000) checked copies in groups of one kept copy and four checked
// ones, in a private trash, presses SEND TO RECYCLING and then Undo, and prints for each the
// wall-clock time and the longest pause of the window's thread (the widest gap between two
// turns of its event loop, sampled by a 5 ms timer). With --gio, the same files, put back by
// the Undo, then go to the trash through `gio trash`, for comparison.

#include "BenchServices.h"
#include "Desktop.h"
#include "EventPump.h"
#include "FileIdentity.h"
#include "FolderDialog.h"
#include "Form4.h"
#include "MessageBoxes.h"
#include "ResultsModel.h"
#include "Screen.h"
#include "Services.h"
#include "SettingsStore.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {
class AnswerOk final : public MessageBoxes
{
public:
    // A real question runs its own event loop while the user reads it, so the work before it
    // and the work after the answer are two pauses, not one.
    Answer show(const QString &text, Buttons, const QString &, Icon) override
    {
        last = text;
        QEventLoop reading;
        QTimer::singleShot(50, &reading, &QEventLoop::quit);
        reading.exec();
        return Answer::Ok;
    }
    QString last;
};

// CPU milliseconds of this process (every thread), or of its finished children.
double cpuMs(int who)
{
    rusage usage = {};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// CPU milliseconds of the calling thread alone.
double threadCpuMs()
{
    timespec now = {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Followed
{
    double wall = 0;
    double longest = 0;    // wall-clock, the widest gap between two ticks
    double longestCpu = 0; // the window's thread's own CPU time in its busiest gap: steady under load
    double windowCpu = 0;  // the window's thread's CPU time in all
    double clickCpu = 0;   // of it, the click itself (for a send: the plan and the question)
};

// Runs the window's event loop from start() until the window reports the end of the move,
// sampling the gaps between ticks of a 5 ms timer.
Followed followed(Form4 &form, const std::function<void()> &start)
{
    Followed out;
    QElapsedTimer clock, sinceTick;
    double &longest = out.longest;
    const double cpuAtStart = threadCpuMs();
    double cpuAtTick = cpuAtStart;
    const auto tick = [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
        const double cpu = threadCpuMs();
        out.longestCpu = std::max(out.longestCpu, cpu - cpuAtTick);
        cpuAtTick = cpu;
    };
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, tick);
    QEventLoop loop;
    QObject::connect(&form, &Form4::trashWorkFinished, &loop, &QEventLoop::quit);
    clock.start();
    sinceTick.start();
    ticks.start();
    start();
    out.clickCpu = threadCpuMs() - cpuAtStart;
    tick(); // the click itself
    if (form.busy())
        loop.exec();
    out.wall = double(clock.nsecsElapsed()) / 1e6;
    out.windowCpu = threadCpuMs() - cpuAtStart;
    return out;
}
} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir place; // files and trash on one file system, as in a home folder
    qputenv("XDG_DATA_HOME", QFile::encodeName(place.filePath(QStringLiteral("data"))));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 200000;
    const bool gio = args.contains(QStringLiteral("--gio"));
    QDir().mkpath(place.filePath(QStringLiteral("data/Trash")));

    MemorySettingsStore settings;
    AnswerOk messages;
    NoDialog folders;
    QtScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    NoDesktop desktop;
    Services services{settings, messages, folders, screen, trash, pump, QString(), &desktop};
    QWidget main;
    Form4 form(services, &main);

    std::printf("making %d files to send and %d kept copies...\n", files, (files + 3) / 4);
    QStringList sent;
    ResultsModel &model = form.results();
    const QByteArray root = QFile::encodeName(place.filePath(QStringLiteral("files")));
    QDir().mkpath(QFile::decodeName(root));
    for (int group = 0, made = 0; made < files; ++group) {
        const QByteArray contents = "group " + QByteArray::number(group);
        for (int copy = 0; copy < 5 && (copy == 0 || made < files); ++copy) {
            const QByteArray path = root + "/g" + QByteArray::number(group) + "-" + QByteArray::number(copy);
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, contents.constData(), size_t(contents.size())) != contents.size())
                return 1;
            ::close(fd);
            ResultRow row;
            row.path = QFile::decodeName(path);
            row.size = contents.size();
            row.group = std::uint32_t(group + 1);
            row.collectionIndex = std::uint32_t(model.rows());
            row.identity = identityOf(row.path);
            model.addRow(row);
            if (copy > 0) {
                sent << row.path;
                ++made;
            }
        }
        model.endGroup();
    }
    model.showRows();
    std::vector<bool> checks(std::size_t(model.rows()), false);
    for (int row = 0; row < model.rows(); ++row)
        checks[std::size_t(row)] = !model.path(row).endsWith(QLatin1String("-0"));
    model.setCheckStates(checks);
    form.show();
    QCoreApplication::processEvents();

    double cpu = cpuMs(RUSAGE_SELF);
    const Followed send = followed(form, [&] { form.findChild<QAbstractButton *>(QStringLiteral("Check1"))->click(); });
    std::printf("send:  %.0f ms (CPU %.0f ms, window's thread %.0f ms), longest pause of the window's thread "
                "%.1f ms (its CPU %.1f ms; the click %.1f ms), %d rows left\n%s\n",
                send.wall, cpuMs(RUSAGE_SELF) - cpu, send.windowCpu, send.longest, send.longestCpu, send.clickCpu,
                model.rows(), qPrintable(messages.last.left(200)));
    cpu = cpuMs(RUSAGE_SELF);
    const Followed undo = followed(form, [&] { form.action("undo")->trigger(); });
    std::printf("undo:  %.0f ms (CPU %.0f ms, window's thread %.0f ms), longest pause of the window's thread "
                "%.1f ms (its CPU %.1f ms; the click %.1f ms), %d rows\n%s\n",
                undo.wall, cpuMs(RUSAGE_SELF) - cpu, undo.windowCpu, undo.longest, undo.longestCpu, undo.clickCpu,
                model.rows(), qPrintable(messages.last.left(200)));

    if (gio) {
        QElapsedTimer clock;
        clock.start();
        for (qsizetype first = 0; first < sent.size(); first += 2000) {
            QProcess process;
            process.start(QStringLiteral("gio"), QStringList{QStringLiteral("trash")} + sent.mid(first, 2000));
            process.waitForFinished(-1);
        }
        std::printf("gio trash: %.0f ms (CPU %.0f ms) for the same %d files\n", double(clock.nsecsElapsed()) / 1e6,
                    cpuMs(RUSAGE_CHILDREN), files);
    }
    return 0;
}
