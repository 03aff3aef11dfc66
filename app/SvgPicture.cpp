#include "SvgPicture.h"

#include <QPainter>

SvgPicture::SvgPicture(const QString &svgResource, QWidget *parent) : QWidget(parent), m_picture(svgResource) {}

QSize SvgPicture::sizeHint() const
{
    return m_picture.defaultSize();
}

void SvgPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    m_picture.render(&painter, QRectF(rect()));
}
