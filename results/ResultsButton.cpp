#include "ResultsButton.h"

#include <QPainter>

ResultsButton::ResultsButton(const QString &artwork, QWidget *parent) : QAbstractButton(parent), m_artwork(artwork)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
}

QSize ResultsButton::sizeHint() const
{
    return m_artwork.isValid() ? m_artwork.defaultSize() : QSize(201, 73);
}

void ResultsButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = rect();
    const bool sunken = isDown() || isChecked();
    painter.fillRect(area, Qt::white);

    // The picture moves one pixel down and right while pressed, as a pushed key does.
    QRectF picture = QRectF(area).adjusted(2, 2, -2, -2);
    if (sunken)
        picture.translate(1, 1);
    painter.setRenderHint(QPainter::Antialiasing);
    m_artwork.render(&painter, picture);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const QColor light(255, 255, 255), mid(196, 196, 196), dark(128, 128, 128), shadow(64, 64, 64);
    const QColor topLeftOuter = sunken ? dark : mid, bottomRightOuter = sunken ? light : shadow;
    const QColor topLeftInner = sunken ? shadow : light, bottomRightInner = sunken ? mid : dark;
    const int r = area.right(), b = area.bottom();
    auto edge = [&](int inset, const QColor &topLeft, const QColor &bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(inset, inset, r - inset, inset);
        painter.drawLine(inset, inset, inset, b - inset);
        painter.setPen(bottomRight);
        painter.drawLine(inset, b - inset, r - inset, b - inset);
        painter.drawLine(r - inset, inset, r - inset, b - inset);
    };
    edge(0, topLeftOuter, bottomRightOuter);
    edge(1, topLeftInner, bottomRightInner);

    if (hasFocus()) {
        QPen focus(QColor(90, 90, 90), 1, Qt::DotLine);
        painter.setPen(focus);
        painter.drawRect(area.adjusted(4, 4, -5, -5));
    }
}
