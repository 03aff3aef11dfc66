#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <list>

class QProcess;
class QTimer;

// Gets pictures decoded by the renderer program, twinfold-preview, one process per picture:
// whatever a damaged or hostile file does to the decoders stays in that process. The file is
// opened here (regular files only, without following a link or blocking) and handed to the
// renderer as its standard input; its pixels come back through a pipe, read without blocking.
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
    bool isLoading() const { return m_running != nullptr; }

    // The wall-clock time after which a renderer is stopped (about 5 s).
    void setTimeLimit(int milliseconds) { m_timeLimit = milliseconds; }

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

    void finish(QImage picture);
    void stop(QProcess *process);

    QString m_program;
    int m_timeLimit = 5000;
    std::list<Kept> m_kept; // most recent first
    QProcess *m_running = nullptr;
    QTimer *m_deadline = nullptr;
    QByteArray m_output;
    Key m_runningKey;
};

// Reads the renderer's output: a binary PPM of exactly `size`. Null for anything else.
QImage readPixels(const QByteArray &ppm, QSize size);
