#include "PictureLoader.h"

#include "ProductInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::size_t KeptPictures = 8;
// The renderer's largest side; a larger preview stretches the picture the rest of the way.
constexpr int LargestRenderedSide = 4096;

QString rendererArgument(const QString &path)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String("wmf")))
        return QStringLiteral("wmf");
    if (lower.endsWith(QLatin1String("emf")))
        return QStringLiteral("emf");
    if (lower.endsWith(QLatin1String("dib")))
        return QStringLiteral("dib");
    return QStringLiteral("image");
}
} // namespace

QImage readPixels(const QByteArray &ppm, QSize size)
{
    const QByteArray header = "P6\n" + QByteArray::number(size.width()) + ' ' + QByteArray::number(size.height())
        + "\n255\n";
    const qint64 row = qint64(size.width()) * 3;
    if (size.isEmpty() || !ppm.startsWith(header) || ppm.size() - header.size() != row * size.height())
        return {};
    QImage image(size, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(image.scanLine(y), ppm.constData() + header.size() + row * y, std::size_t(row));
    return image;
}

PictureLoader::PictureLoader(const QString &rendererProgram, QObject *parent)
    : QObject(parent), m_program(rendererProgram), m_link(std::make_shared<Link>())
{
    m_link->loader = this;
}

PictureLoader::~PictureLoader()
{
    {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->loader = nullptr;
    }
    cancel();
    // Renderers killed but not yet reaped: reaping a killed process takes a moment at most.
    for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        process->kill();
        process->waitForFinished(2000);
    }
}

QString PictureLoader::installedRenderer()
{
    // Beside the program in the build tree; where the install layout puts it, from the program's
    // folder, then where it was configured to go.
    const QDir folder(QCoreApplication::applicationDirPath());
    const QStringList candidates{folder.filePath(QStringLiteral("twinfold-preview")),
                                 folder.filePath(QStringLiteral(TWINFOLD_RENDERER_FROM_BINDIR)),
                                 QStringLiteral(TWINFOLD_RENDERER_INSTALLED)};
    for (const QString &candidate : candidates) {
        const QFileInfo renderer(candidate);
        if (renderer.isFile() && renderer.isExecutable())
            return QDir::cleanPath(renderer.absoluteFilePath());
    }
    qWarning("twinfold: the picture renderer is missing (looked for %s): pictures will not be previewed",
             qPrintable(candidates.join(QStringLiteral(", "))));
    return {};
}

namespace {
// Opens stalled on dead shares are left to their threads; past this many, no more are begun.
constexpr int MostOpensUnderway = 16;
std::atomic<int> opensUnderway{0};
} // namespace

std::shared_ptr<PictureLoader::OpenedFile> PictureLoader::openFile(const QByteArray &path)
{
    // Only a regular file is handed on: a FIFO or device would block its reader, and a link
    // could point anywhere by now.
    auto file = std::make_shared<PictureLoader::OpenedFile>();
    file->fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (file->fd >= 0 && file->fd <= STDERR_FILENO) {
        // The child's standard streams are set up before it takes this descriptor as its input.
        const int moved = ::fcntl(file->fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(file->fd);
        file->fd = moved;
    }
    if (file->fd < 0 || ::fstat(file->fd, &file->status) != 0 || !S_ISREG(file->status.st_mode))
        return nullptr;
    ::fcntl(file->fd, F_SETFL, ::fcntl(file->fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

PictureLoader::OpenedFile::~OpenedFile()
{
    if (fd >= 0)
        ::close(fd);
}

void PictureLoader::load(const QString &path, QSize size)
{
    cancel();
    size = size.boundedTo(QSize(LargestRenderedSide, LargestRenderedSide));
    if (size.isEmpty() || m_program.isEmpty() || opensUnderway >= MostOpensUnderway) {
        emit loaded({});
        return;
    }
    const quint64 request = ++m_request;
    m_opening = true;
    ++opensUnderway;
    // Detached: a stalled open is never waited for, not even when the program ends. Its answer
    // reaches this loader only while it exists; one that comes too late closes the file.
    // Opened off the window's thread: a share whose open() stalls holds up only that thread.
    std::thread([link = m_link, opener = m_opener, request, path, size] {
        std::shared_ptr<OpenedFile> file = opener(QFile::encodeName(path));
        --opensUnderway;
        const std::lock_guard<std::mutex> lock(link->mutex);
        if (PictureLoader *loader = link->loader)
            QMetaObject::invokeMethod(
                loader, [loader, request, path, size, file] { loader->opened(request, path, size, file); },
                Qt::QueuedConnection);
    }).detach();
}

void PictureLoader::opened(quint64 request, const QString &path, QSize size, const std::shared_ptr<OpenedFile> &file)
{
    if (!m_opening || request != m_request)
        return; // cancelled or overtaken by a newer request
    m_opening = false;
    if (!file) {
        emit loaded({});
        return;
    }
    const struct stat &status = file->status;
    const int fd = file->fd;
    Key key{path,
            size,
            quint64(status.st_dev),
            quint64(status.st_ino),
            qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec};
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        if (kept->key == key) {
            m_kept.splice(m_kept.begin(), m_kept, kept);
            emit loaded(m_kept.front().picture);
            return;
        }
    }

    auto *process = new QProcess(this);
    process->setProgram(m_program);
    process->setArguments({QStringLiteral("--as"), rendererArgument(path), QStringLiteral("--size"),
                           QString::number(size.width()) + QLatin1Char('x') + QString::number(size.height())});
    process->setStandardErrorFile(QProcess::nullDevice());
    // The opened file becomes the renderer's standard input; dup2 clears close-on-exec. Every
    // other descriptor this process inherited closes at exec (the renderer closes them too).
    process->setChildProcessModifier([fd] {
        ::dup2(fd, STDIN_FILENO);
        ::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    });
    const qint64 expected = 32 + qint64(size.width()) * size.height() * 3;
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process, expected] {
        m_output += process->readAllStandardOutput();
        if (m_output.size() > expected) // more than the picture asked for: not a renderer's answer
            finish({});
    });
    connect(process, &QProcess::finished, this, [this, process](int status, QProcess::ExitStatus how) {
        m_output += process->readAllStandardOutput();
        const bool rendered = how == QProcess::NormalExit && status == 0;
        finish(rendered ? readPixels(m_output, m_runningKey.size) : QImage());
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish({});
    });
    m_running = process;
    m_runningKey = key;
    m_output.clear();
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { finish({}); });
    m_deadline->start(m_timeLimit);
    process->start(QIODevice::ReadOnly); // the renderer has its own copy of the file from here on
}

void PictureLoader::cancel()
{
    m_opening = false;
    if (!m_running)
        return;
    stop(m_running);
    m_running = nullptr;
    delete m_deadline;
    m_deadline = nullptr;
    m_output.clear();
}

void PictureLoader::stop(QProcess *process)
{
    // Killed and reaped in the background; waiting for it here could block the window.
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}

void PictureLoader::finish(QImage picture)
{
    if (!m_running)
        return;
    const Key key = m_runningKey;
    cancel();
    if (!picture.isNull()) {
        m_kept.push_front({key, picture});
        if (m_kept.size() > KeptPictures)
            m_kept.pop_back();
    }
    emit loaded(picture);
}
