#pragma once

#include <QWidget>

class PictureBox;

// The preview window: the picture of the last clicked result row.
class Form2 final : public QWidget
{
    Q_OBJECT

public:
    Form2();

    // Shows the file when its lower-cased path ends in a preview extension, else nothing.
    // Loads it anew each time; a file that cannot be decoded leaves the preview empty.
    void previewFile(const QString &path);
    static bool hasPreviewExtension(const QString &path);

    PictureBox *image() const { return m_image; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Resize();

    PictureBox *m_image;
};
