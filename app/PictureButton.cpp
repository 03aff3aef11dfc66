#include "PictureButton.h"

#include <QPainter>
#include <QPainterPath>

PictureButton::PictureButton(const QString &svgResource, QWidget *parent)
    : QAbstractButton(parent), m_picture(svgResource)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

QSize PictureButton::sizeHint() const
{
    return m_picture.defaultSize();
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);

    const bool pressed = isDown() || isChecked();
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    // Pressed: the picture sinks by a pixel and darkens.
    m_picture.render(&painter, pressed ? area.translated(1, 1) : area);

    QPainterPath outline;
    outline.addRoundedRect(area.adjusted(2.5, 2.5, -2.5, -2.5), 8, 8);
    if (pressed) {
        painter.fillPath(outline, QColor(0, 0, 0, 40));
        painter.strokePath(outline, QPen(QColor(70, 70, 70), 1.5));
    } else if (underMouse() && isEnabled()) {
        painter.fillPath(outline, QColor(0, 110, 220, 18));
    }
    if (hasFocus()) {
        QPen focusPen(QColor(40, 90, 170), 1, Qt::DotLine);
        painter.setPen(focusPen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area.adjusted(5.5, 5.5, -5.5, -5.5), 6, 6);
    }
}
