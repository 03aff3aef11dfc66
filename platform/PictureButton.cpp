#include "PictureButton.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// Where every button picture draws its card, in picture units.
constexpr qreal CardInset = 3.5;
constexpr qreal CardRadius = 8;

} // namespace

PictureButton::PictureButton(const QString &svgResource, QWidget *parent)
    : QAbstractButton(parent), m_picture(svgResource)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

QSize PictureButton::sizeHint() const
{
    // Broken artwork still leaves a button of the usual height to press.
    return m_picture.isValid() ? m_picture.defaultSize() : QSize(113, 73);
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);

    // Pressed: the picture sinks by a pixel and its card darkens.
    const bool pressed = isDown();
    const QRectF picture = QRectF(rect()).translated(pressed ? 1 : 0, pressed ? 1 : 0);
    m_picture.render(&painter, picture);

    const QSizeF units = m_picture.isValid() ? m_picture.viewBoxF().size() : QSizeF(picture.size());
    const qreal scaleX = picture.width() / units.width(), scaleY = picture.height() / units.height();
    const auto cardOutline = [&](qreal inset) {
        QPainterPath path;
        path.addRoundedRect(picture.adjusted(inset * scaleX, inset * scaleY, -inset * scaleX, -inset * scaleY),
                            (CardRadius + CardInset - inset) * scaleX, (CardRadius + CardInset - inset) * scaleY);
        return path;
    };

    const QPainterPath card = cardOutline(CardInset);
    if (pressed) {
        painter.fillPath(card, QColor(0, 0, 0, 40));
        painter.strokePath(card, QPen(QColor(70, 70, 70), 1.5));
    } else if (underMouse() && isEnabled()) {
        painter.fillPath(card, QColor(0, 110, 220, 18));
    }
    if (hasFocus())
        painter.strokePath(cardOutline(CardInset + 3), QPen(QColor(40, 90, 170), 1, Qt::DotLine));
}
