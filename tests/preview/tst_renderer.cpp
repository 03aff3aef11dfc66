#include "Confinement.h"
#include "PictureDecoder.h"
#include "PictureLoader.h"
#include "SvgCleaner.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestPictures.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
enum class Outcome {
    Drawn,   // exit 0 and a picture of the size asked for
    Refused, // exit 1 and nothing written
    Stopped, // no picture: refused, or ended by its own limits
    Either   // exit 0 with a picture or exit 1 without; never a crash
};

const QSize Asked(40, 30);

struct Run
{
    bool normalExit = false;
    int status = -1;
    qint64 milliseconds = 0;
    bool stops = false; // ended by itself, or starved of CPU short of the CPU limit it runs under
    QByteArray output;
    bool namedFileOpened = false;
};

// Above the renderer's own CPU limit in every build.
constexpr double MostCpuSeconds = 15;

// One of the process's files in /proc; empty once it has gone.
QByteArray procFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// CPU seconds the process has used so far, or -1.
double cpuSeconds(qint64 pid)
{
    const QByteArray line = procFile(pid, "stat");
    // After the name: the state is field 3, user and system time fields 14 and 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// Whether the process is waiting for a processor, not blocked, within about a second.
bool runnable(qint64 pid)
{
    for (int look = 0; look < 20; ++look, QThread::msleep(50))
        if (procFile(pid, "stat").split(')').last().startsWith(" R"))
            return true;
    return false;
}

// The process's soft CPU limit in seconds; 0 when it has none.
qint64 cpuLimit(qint64 pid)
{
    for (const QByteArray &line : procFile(pid, "limits").split('\n'))
        if (line.startsWith("Max cpu time"))
            return line.mid(12).simplified().split(' ').value(0).toLongLong(); // "unlimited": 0
    return 0;
}

// Runs the renderer on the file, watching whether anything opens `watchedFifo` meanwhile:
// a writer's non-blocking open of a FIFO succeeds only while a reader has it open.
Run render(const QString &picture, const QString &as, const QString &watchedFifo)
{
    Run run;
    QProcess renderer;
    renderer.setWorkingDirectory(QFileInfo(watchedFifo).path());
    renderer.setStandardInputFile(picture);
    renderer.start(QString::fromUtf8(TWINFOLD_PREVIEW_PROGRAM),
                   {QStringLiteral("--as"), as, QStringLiteral("--size"), QStringLiteral("40x30")});
    QElapsedTimer clock;
    clock.start();
    const QByteArray fifo = QFile::encodeName(watchedFifo);
    const qint64 pid = renderer.processId();
    // Judged by the CPU it uses, not by the clock: at its lowered priority, on a machine busy
    // with other tests, its few seconds of CPU can take minutes of wall time.
    double used = 0;
    for (qint64 nextLook = 0; !renderer.waitForFinished(20) && used <= MostCpuSeconds && clock.elapsed() < 240000;) {
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) {
            run.namedFileOpened = true;
            ::close(writer); // the reader sees the end and goes on
        }
        if (clock.elapsed() >= nextLook) {
            used = std::max(used, cpuSeconds(pid));
            nextLook = clock.elapsed() + 250;
        }
    }
    run.milliseconds = clock.elapsed();
    run.stops = renderer.state() == QProcess::NotRunning;
    if (!run.stops) {
        const qint64 limit = cpuLimit(pid);
        run.stops = limit > 0 && limit < MostCpuSeconds && used <= double(limit + 1) && runnable(pid);
        renderer.kill();
        renderer.waitForFinished();
    }
    run.normalExit = renderer.exitStatus() == QProcess::NormalExit;
    run.status = renderer.exitCode();
    run.output = renderer.readAllStandardOutput();
    return run;
}

QByteArray flipped(const QByteArray &bytes, quint32 seed)
{
    QByteArray copy = bytes;
    QRandomGenerator random(seed);
    for (int i = 0, n = 1 + random.bounded(4); i < n; ++i)
        copy[random.bounded(int(copy.size()))] ^= char(1 << random.bounded(8));
    return copy;
}

// Waits (bounded) until no process holds the pipe's write end any more.
bool writersGone(int readEnd, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    pollfd watched{readEnd, POLLIN, 0};
    while (clock.elapsed() < milliseconds)
        if (::poll(&watched, 1, 100) > 0 && (watched.revents & POLLHUP))
            return true;
    return false;
}

// Runs the body in a forked child: its exit status, or -1 when it did not exit.
template <class Body> int inChild(Body body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Markup that leaves the text element, draws red over everything and names the FIFO in the
// renderer's working folder as a picture to fetch.
const QByteArray HostileMarkup = "</text><image xlink:href=\"FIFO\" width=\"99\" height=\"99\"/>"
                                 "<rect width=\"99\" height=\"99\" fill=\"red\"/><text>";
} // namespace

class TestRenderer : public QObject
{
    Q_OBJECT

private slots:
    void craftedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("as");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("red"); // whether a drawn picture is red in the middle

        const QByteArray jpeg = encoded(solid(Qt::red, 64, 64), "JPEG"), bmp = encoded(solid(Qt::red), "BMP");
        QTest::newRow("JPEG") << jpeg << "image" << Outcome::Drawn << true;
        QTest::newRow("EMF") << redSquareEmf() << "emf" << Outcome::Drawn << true;
        QTest::newRow("WMF") << redSquareWmf() << "wmf" << Outcome::Drawn << true;

        // Overreads: an EMF whose last record is of an unknown type, or runs past the file.
        QTest::newRow("EMF ending in record type 0x7FFFFFFF")
            << redSquareEmf(emfRecord(0x7FFFFFFF, emfWords({0, 16, 20}))) << "emf" << Outcome::Refused << false;
        QTest::newRow("EMF record longer than the file")
            << redSquareEmf(emfWords({14, 4000, 0, 16, 20})) << "emf" << Outcome::Refused << false;

        // Injection: text that would close the converter's markup and fetch another file.
        QTest::newRow("EMF text closing its CDATA")
            << textEmf(QStringLiteral("]]>") + QString::fromLatin1(HostileMarkup) + QStringLiteral("<![CDATA["))
            << "emf" << Outcome::Drawn << false;
        QTest::newRow("EMF font name closing its attribute")
            << textEmf(QStringLiteral("Hi"), QStringLiteral("\"/><circle r=\"99\" fill=\"red\"/>")) << "emf"
            << Outcome::Drawn << false;
        QTest::newRow("WMF text with markup") << textWmf(HostileMarkup) << "wmf" << Outcome::Drawn << false;
        QTest::newRow("SVG named as a picture")
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                          "width=\"99\" height=\"99\"><text>"
                          + HostileMarkup + "</text></svg>")
            << "image" << Outcome::Refused << false;

        // Amplification: pictures that claim far more than they hold, or cost far more than they weigh.
        QByteArray hugeBmp = bmp;
        qToLittleEndian<qint32>(60000, hugeBmp.data() + 18);
        qToLittleEndian<qint32>(60000, hugeBmp.data() + 22);
        QTest::newRow("BMP claiming 60000 x 60000") << hugeBmp << "image" << Outcome::Refused << false;
        QByteArray hugeGif = redGif;
        qToLittleEndian<quint16>(60000, hugeGif.data() + 6);
        qToLittleEndian<quint16>(60000, hugeGif.data() + 8);
        QTest::newRow("GIF claiming 60000 x 60000") << hugeGif << "image" << Outcome::Stopped << false;
        QByteArray clips;
        for (int i = 0; i < 1000000; ++i)
            clips += emfRecord(30, emfWords({quint32(i % 50), 0, 99, 99})); // EMR_INTERSECTCLIPRECT
        QTest::newRow("EMF of a million clip records") << emfOf(clips, 1000000) << "emf" << Outcome::Stopped << false;
        // Pixels over Qt's usual 128 MiB, decoded whole before they are scaled: the renderer has an
        // address space of its own.
        QTest::newRow("BMP of 6000 x 6000")
            << encoded(solid(Qt::red, 6000, 6000), "BMP") << "image" << Outcome::Drawn << true;

        // Truncated and bit-flipped files of every kind.
        const std::tuple<const char *, QByteArray, const char *> kinds[] = {
            {"JPEG", jpeg, "image"},        {"GIF", redGif, "image"},
            {"BMP", bmp, "image"},          {"DIB", bmp.mid(14), "dib"},
            {"ICO", redIcon(), "image"},    {"CUR", redIcon(2), "image"},
            {"WMF", redSquareWmf(), "wmf"}, {"WMF text", textWmf("Twinfold"), "wmf"},
            {"EMF", redSquareEmf(), "emf"}, {"EMF text", textEmf(QStringLiteral("Twinfold")), "emf"}};
        for (const auto &[name, bytes, as] : kinds) {
            for (qsizetype cut : {qsizetype(10), bytes.size() / 2, bytes.size() - 1})
                QTest::addRow("%s cut to %d bytes", name, int(cut))
                    << bytes.left(cut) << as << Outcome::Either << false;
            for (quint32 seed = 1; seed <= 6; ++seed)
                QTest::addRow("%s bit-flipped, seed %u", name, seed)
                    << flipped(bytes, seed) << as << Outcome::Either << false;
        }
    }

    void craftedFiles()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, as);
        QFETCH(Outcome, outcome);
        QFETCH(bool, red);
        FileTree tree;
        const QString fifo = tree.path(QStringLiteral("FIFO"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

        const Run run = render(tree.write(QStringLiteral("picture"), contents), as, fifo);
        QVERIFY2(!run.namedFileOpened, "the renderer opened a file named inside the picture");
        // It ends by itself: its CPU limit is a few seconds. Starved of CPU, that limit must be set.
        QVERIFY2(run.stops, qPrintable(QStringLiteral("still running after %1 ms").arg(run.milliseconds)));
        QVERIFY2(run.normalExit || outcome == Outcome::Stopped, "the renderer crashed");
        const QImage drawn = readPixels(run.output, Asked);
        if (outcome == Outcome::Drawn) {
            QCOMPARE(run.status, 0);
            QVERIFY(!drawn.isNull());
            QCOMPARE(near(drawn.pixel(drawn.rect().center()), qRgb(255, 0, 0)), red);
        } else if (outcome == Outcome::Either) {
            QVERIFY2(run.status == 0 || run.status == 1, qPrintable(QString::number(run.status)));
            QCOMPARE(drawn.isNull(), run.status != 0);
        } else { // refused, or ended by its limits: nothing written
            QVERIFY(run.output.isEmpty());
            QVERIFY(outcome == Outcome::Stopped ? !run.normalExit || run.status != 0 : run.status == 1);
        }
    }

    // Transparent parts are drawn on white.
    void transparentPartsOnWhite()
    {
        QImage clear(16, 16, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        FileTree tree;
        const Run run = render(tree.write(QStringLiteral("picture"), encoded(clear, "PNG")), QStringLiteral("image"),
                               QString());
        const QImage drawn = readPixels(run.output, Asked);
        QVERIFY(!drawn.isNull());
        QCOMPARE(drawn.pixel(drawn.rect().center()), qRgb(255, 255, 255));
    }

    void refusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown kind") << QStringList{"--as", "svg"};
        QTest::newRow("size too large") << QStringList{"--size", "5000x10"};
        QTest::newRow("size not a size") << QStringList{"--size", "10"};
        QTest::newRow("no height") << QStringList{"--size", "100x0"};
        QTest::newRow("missing value") << QStringList{"--size"};
    }

    void refusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QProcess renderer;
        renderer.setStandardInputFile(QProcess::nullDevice());
        renderer.start(QString::fromUtf8(TWINFOLD_PREVIEW_PROGRAM), arguments);
        QVERIFY(renderer.waitForFinished(30000));
        QCOMPARE(renderer.exitCode(), 2);
        QVERIFY(renderer.readAllStandardOutput().isEmpty());
    }

    // A descriptor inherited from whatever started the window reaches neither the renderer
    // (it closes every one before reading) nor, where the window can help it, the renderer's start.
    // The CPU limit alone, as a crafted picture may meet another limit first: long after
    // confining itself, while it waits for its input, the renderer runs under a limit of seconds.
    void inheritedDescriptorsAndCpuLimit_data()
    {
        QTest::addColumn<bool>("realRenderer");
        QTest::newRow("the renderer closes them, under a CPU limit") << true;
        QTest::newRow("the window does not pass them on") << false;
    }
    void inheritedDescriptorsAndCpuLimit()
    {
        QFETCH(bool, realRenderer);
        int watched[2];
        QVERIFY(::pipe2(watched, O_CLOEXEC) == 0);
        if (realRenderer) {
            QProcess renderer;
            // The lowest number a descriptor can have beyond the standard three, and a higher one.
            renderer.setChildProcessModifier([&watched] {
                ::dup2(watched[1], 3);
                ::dup2(watched[1], 7);
            });
            renderer.start(QString::fromUtf8(TWINFOLD_PREVIEW_PROGRAM),
                           {QStringLiteral("--as"), QStringLiteral("image")});
            QVERIFY(renderer.waitForStarted(30000));
            ::close(watched[1]);
            // Its input stays open and empty: it is still waiting to read when the descriptor goes.
            const bool closed = writersGone(watched[0], 120000);
            QTRY_VERIFY_WITH_TIMEOUT(cpuLimit(renderer.processId()) > 0, 60000);
            QVERIFY2(cpuLimit(renderer.processId()) < MostCpuSeconds, "its CPU limit is too high");
            const bool running = renderer.state() == QProcess::Running;
            renderer.closeWriteChannel();
            QVERIFY(renderer.waitForFinished(120000));
            ::close(watched[0]);
            QVERIFY(closed && running);
            return;
        }
        // A renderer that keeps whatever it is given, started by the window with a descriptor
        // the window inherited (not closed on exec). The window starts it from its event loop.
        FileTree tree;
        const QString program = tree.write(QStringLiteral("renderer"),
                                           "#!/bin/sh\n: >\"$0.started\"\nexec sleep 600\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        ::fcntl(watched[1], F_SETFD, 0);
        PictureLoader loader(program);
        loader.load(tree.write(QStringLiteral("picture.png"), encoded(solid(Qt::red), "PNG")), Asked);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(program + QStringLiteral(".started")), 30000);
        ::close(watched[1]);
        const bool closed = writersGone(watched[0], 30000);
        loader.cancel();
        ::close(watched[0]);
        QVERIFY(closed);
    }

    // Long WMF text reaches the drawing whole, at the converter's buffer sizes and beyond
    // (a checked build sees any read outside the text).
    void longWmfTextIsDrawnWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        for (const int length : {126, 127, 128, 255, 256, 4000})
            QTest::addRow("%d characters", length) << QByteArray(length, 'a');
        QTest::newRow("124 characters, 127 escaped") << QByteArray(123, 'a') + '<';
        QTest::newRow("300 ampersands") << QByteArray(300, '&');
    }
    void longWmfTextIsDrawnWhole()
    {
        QFETCH(QByteArray, text);
        QXmlStreamReader svg(wmfToSvg(textWmf(text)));
        while (!svg.atEnd()
               && !(svg.readNext() == QXmlStreamReader::StartElement && svg.name() == QLatin1String("text"))) {
        }
        QCOMPARE(svg.readElementText().toLatin1(), text);
    }

    // The cleaner alone, without the sandbox behind it: nothing it lets through names a file.
    void svgCleaner_data()
    {
        QTest::addColumn<QByteArray>("inside"); // what the drawing holds inside <svg>
        QTest::addColumn<QByteArray>("kept");   // what comes out inside <svg>
        const QByteArray png = "data:image/png;base64," + encoded(solid(Qt::red, 1, 1), "PNG").toBase64();
        QTest::newRow("drawing") << QByteArray("<rect width=\"9\" fill=\"url(#p)\"/>")
                                 << QByteArray("<rect width=\"9\" fill=\"url(#p)\"/>");
        QTest::newRow("image naming a file")
            << QByteArray("<image href=\"/etc/passwd\"/><rect/>") << QByteArray("<rect/>");
        QTest::newRow("image naming a file, xlink")
            << QByteArray("<image xlink:href=\"file:///etc/passwd\"/><rect/>") << QByteArray("<rect/>");
        QTest::newRow("image naming an element") << QByteArray("<image href=\"#r\"/>") << QByteArray();
        QTest::newRow("embedded PNG") << "<image href=\"" + png + "\"/>"
                                      << "<image href=\"" + png + "\"/>";
        QTest::newRow("embedded SVG") << "<image href=\"data:image/svg+xml;base64," + QByteArray("<svg/>").toBase64()
                + "\"/>" << QByteArray();
        QTest::newRow("PNG label on other bytes")
            << "<image href=\"data:image/png;base64," + QByteArray("<svg/>").toBase64() + "\"/>" << QByteArray();
        QTest::newRow("use of another file")
            << QByteArray("<use href=\"other.svg#a\"/><use href=\"#a\"/>") << QByteArray("<use href=\"#a\"/>");
        QTest::newRow("url of another file")
            << QByteArray("<rect style=\"fill: url( 'b.svg#p')\" width=\"1\"/>") << QByteArray("<rect width=\"1\"/>");
        QTest::newRow("script, style, foreign object, handler")
            << QByteArray("<script>alert(1)</script><style>@import url(a.css);</style>"
                          "<foreignObject><p>x</p></foreignObject><rect onload=\"x\" "
                          "ONCLICK=\"y\" xml:base=\"file:///etc/\"/>")
            << QByteArray("<rect/>");
        QTest::newRow("text stays text") << QByteArray("<text><![CDATA[<image href=\"/etc\"/>]]></text>")
                                         << QByteArray("<text>&lt;image href=&quot;/etc&quot;/&gt;</text>");
    }
    void svgCleaner()
    {
        QFETCH(QByteArray, inside);
        QFETCH(QByteArray, kept);
        const QByteArray open =
            "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\">";
        const QByteArray cleaned = cleanSvg(open + inside + "</svg>");
        const QByteArray body = kept.isEmpty() ? open.chopped(1) + "/>" : open + kept + "</svg>";
        QCOMPARE(cleaned, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body + '\n');
    }

    // The file rules alone, without the cleaner in front: a confined process reads beneath its
    // folders and nothing else, and writes nowhere.
    void confinedProcessOpensOnlyItsFolders()
    {
        FileTree tree;
        const QString allowed = tree.path(QStringLiteral("fonts"));
        const QByteArray font = QFile::encodeName(tree.write(QStringLiteral("fonts/font"), "font"));
        const QByteArray secret = QFile::encodeName(tree.write(QStringLiteral("home/secret"), "secret"));
        const QByteArray created = QFile::encodeName(allowed + QStringLiteral("/new"));
        const QByteArray link = QFile::encodeName(allowed + QStringLiteral("/link"));
        const int status = inChild([&] {
            const FileAccess access = forbidFileAccess({allowed});
            if (access != FileAccess::Confined)
                return access == FileAccess::NotAvailable ? 77 : 10;
            if (::open(font.constData(), O_RDONLY) < 0)
                return 11;
            if (::open(secret.constData(), O_RDONLY) >= 0 || errno != EACCES)
                return 12;
            if (::open(created.constData(), O_WRONLY | O_CREAT, 0600) >= 0 || ::open(font.constData(), O_WRONLY) >= 0)
                return 13;
            if (::symlink(secret.constData(), link.constData()) == 0 || ::mkfifo(created.constData(), 0600) == 0)
                return 14;
            return 0;
        });
        if (status == 77)
            QSKIP("this kernel has no Landlock");
        QCOMPARE(status, 0);
        // A refused open may still have made the file; nothing new may stand there.
        QCOMPARE(QDir(allowed).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), QStringList{"font"});
    }

    // The renderer's filter: no socket of any kind and no signal to another process.
    void confinedProcessCannotSignalOrConnect()
    {
        QCOMPARE(inChild([] {
                     if (!forbidSignalsAndNetwork())
                         return 10;
                     const int refused[] = {::kill(::getppid(), 0), ::kill(0, 0), ::kill(-1, 0),
                                            ::socket(AF_INET, SOCK_STREAM, 0), ::socket(AF_UNIX, SOCK_STREAM, 0)};
                     for (std::size_t i = 0; i < std::size(refused); ++i)
                         if (refused[i] != -1)
                             return int(11 + i);
                     return ::kill(::getpid(), 0) == 0 ? 0 : 20; // its own signals still work
                 }),
                 0);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
