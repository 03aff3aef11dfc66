#pragma once

#include <QImage>
#include <QWidget>

// The picture control Image1: one picture or none, stretched over the whole control
// without keeping its proportions.
class PictureBox final : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setPicture(const QImage &picture);
    void clear() { setPicture({}); }
    bool hasPicture() const { return !m_image.isNull(); }
    QSize pictureSize() const { return m_image.size(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};
