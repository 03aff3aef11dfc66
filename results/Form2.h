#pragma once

#include <QWidget>

class FramedWindow;
class PictureBox;
class PictureLoader;
class QTimer;

// The preview window: the picture of the last clicked result row.
class Form2 final : public QWidget
{
    Q_OBJECT

public:
    // `renderer` is the program that decodes pictures (twinfold-preview).
    explicit Form2(const QString &renderer = installedRenderer());
    static QString installedRenderer();

    // Shows the file when its lower-cased path ends in a preview extension, else nothing.
    // The picture is decoded by the renderer while the window goes on; one that cannot be
    // decoded in time leaves the preview empty.
    void previewFile(const QString &path);
    static bool hasPreviewExtension(const QString &path);

    PictureBox *image() const { return m_image; }
    PictureLoader *loader() const { return m_loader; }
    FramedWindow &framed() const { return *m_framed; }

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Resize();
    QSize pictureSize() const;

    PictureBox *m_image;
    PictureLoader *m_loader;
    QTimer *m_resized; // asks for the picture again once resizing pauses
    QString m_path;    // of the picture shown or on its way
    FramedWindow *m_framed;
};
