#include "PictureBox.h"

#include <QPainter>

PictureBox::PictureBox(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void PictureBox::setPicture(const Picture &picture)
{
    m_image = picture.image;
    m_drawing.load(picture.svg); // an empty document leaves the renderer invalid
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_image.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_image);
    } else if (m_drawing.isValid()) {
        painter.setRenderHint(QPainter::Antialiasing);
        m_drawing.render(&painter, QRectF(rect()));
    }
}
