// The window's thread while many files go to the trash and come back, offscreen:
//   bench_send [FILES] [--gio]
// Lists FILES (default 200,000) checked copies in groups of one kept copy and four checked
// ones, in a private trash, presses SEND TO RECYCLING and then Undo, and prints for each the
// wall-clock time and the longest pause of the window's thread (the widest gap between two
// turns of its event loop, sampled by a 5 ms timer). With --gio, the same files, put back by
// the Undo, then go to the trash through `gio trash`, for comparison.

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
#include <unistd.h>

namespace {
class AnswerOk final : public MessageBoxes
{
public:
    Answer show(const QString &text, Buttons, const QString &, Icon) override
    {
        last = text;
        return Answer::Ok;
    }
    QString last;
};
class NoDialog final : public FolderDialog
{
public:
    QString browseForFolder(const QString &) override { return {}; }
};
class NoDesktop final : public Desktop
{
public:
    bool open(const QString &) override { return true; }
    bool reveal(const QString &) override { return true; }
    void copyText(const QString &) override {}
};

// CPU milliseconds of this process (every thread), or of its finished children.
double cpuMs(int who)
{
    rusage usage = {};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Runs the window's event loop from start() until the window reports the end of the move;
// returns the wall-clock milliseconds and the widest gap between two ticks of a 5 ms timer.
std::pair<double, double> followed(Form4 &form, const std::function<void()> &start)
{
    QElapsedTimer clock, sinceTick;
    double longest = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });
    QEventLoop loop;
    QObject::connect(&form, &Form4::trashWorkFinished, &loop, &QEventLoop::quit);
    clock.start();
    sinceTick.start();
    ticks.start();
    start();
    longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6); // the click itself
    sinceTick.restart();
    if (form.busy())
        loop.exec();
    return {double(clock.nsecsElapsed()) / 1e6, longest};
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
    const auto [sendMs, sendPause] = followed(
        form, [&] { form.findChild<QAbstractButton *>(QStringLiteral("Check1"))->click(); });
    std::printf("send:  %.0f ms (CPU %.0f ms), longest pause of the window's thread %.1f ms, %d rows left\n%s\n",
                sendMs, cpuMs(RUSAGE_SELF) - cpu, sendPause, model.rows(), qPrintable(messages.last.left(200)));
    cpu = cpuMs(RUSAGE_SELF);
    const auto [undoMs, undoPause] = followed(form, [&] { form.action("undo")->trigger(); });
    std::printf("undo:  %.0f ms (CPU %.0f ms), longest pause of the window's thread %.1f ms, %d rows\n%s\n", undoMs,
                cpuMs(RUSAGE_SELF) - cpu, undoPause, model.rows(), qPrintable(messages.last.left(200)));

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
