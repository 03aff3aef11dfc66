#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include <sys/stat.h>

class QProcess;
class QTimer;

// Gets pictures decoded by the renderer program, twinfold-preview, one process per picture:
// whatever a damaged or hostile file does to the decoders stays in that process. The file is
// opened off the window's thread (regular files only, without following a link or blocking) and
// handed to the renderer as its standard input; its pixels come back through a pipe, read
// without blocking.
// A newer request cancels the older one; the last few pictures are kept.
class PictureLoader final : public QObject
{
    Q_OBJECT

public:
    explicit PictureLoader(const QString &rendererProgram, QObject *parent = nullptr);
    ~PictureLoader() override;

    // twinfold-preview beside the program, else where the install layout puts it; empty (and said
    // on standard error) when missing.
    static QString installedRenderer();

    // Asks for the file's picture stretched to `size`; `loaded` follows, at once when the
    // picture is kept or refused without decoding, else when the renderer is done.
    void load(const QString &path, QSize size);
    void cancel();
    bool isLoading() const { return m_opening || m_running != nullptr; }

    // The wall-clock time after which a renderer is stopped (about 5 s).
    void setTimeLimit(int milliseconds) { m_timeLimit = milliseconds; }

    // A file opened for the renderer; closed with its last holder.
    struct OpenedFile
    {
        int fd = -1;
        struct stat status = {};
        OpenedFile() = default;
        OpenedFile(const OpenedFile &) = delete;
        OpenedFile &operator=(const OpenedFile &) = delete;
        ~OpenedFile();
    };

    // Opens a file for the renderer (regular files only, no links followed, never blocking);
    // null when it cannot be. Run off the window's thread; replaceable where a test needs a share
    // that stalls.
    using Opener = std::function<std::shared_ptr<OpenedFile>(const QByteArray &path)>;
    static std::shared_ptr<OpenedFile> openFile(const QByteArray &path);
    void setOpener(Opener opener) { m_opener = std::move(opener); }

signals:
    // The picture for the latest request; null when it cannot be shown.
    void loaded(const QImage &picture);

private:
    struct Key
    {
        QString path;
        QSize size;
        quint64 device = 0, inode = 0;
        qint64 bytes = 0, modified = 0, changed = 0;
        bool operator==(const Key &) const = default;
    };
    struct Kept
    {
        Key key;
        QImage picture;
    };

    // The opening threads reach the loader only through this, and only while it exists.
    struct Link
    {
        std::mutex mutex;
        PictureLoader *loader = nullptr;
    };

    void opened(quint64 request, const QString &path, QSize size, const std::shared_ptr<OpenedFile> &file);
    void finish(QImage picture);
    void stop(QProcess *process);

    QString m_program;
    int m_timeLimit = 5000;
    std::list<Kept> m_kept; // most recent first
    QProcess *m_running = nullptr;
    QTimer *m_deadline = nullptr;
    QByteArray m_output;
    Key m_runningKey;
    std::shared_ptr<Link> m_link;
    quint64 m_request = 0;
    bool m_opening = false;
    Opener m_opener = openFile;
};

// Reads the renderer's output: a binary PPM of exactly `size`. Null for anything else.
QImage readPixels(const QByteArray &ppm, QSize size);
