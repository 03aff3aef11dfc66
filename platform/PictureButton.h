#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

// A two-state command button drawn as our own SVG artwork: a card with an icon and a label.
// It looks pressed while held down or checked; the window's handler runs the command on a
// click that leaves it checked and lets it up again.
//
// The artwork draws its card 3.5 units inside the picture's edge with 8-unit corners, so the
// pressed, hover and focus marks can follow that outline at any size.
class PictureButton final : public QAbstractButton
{
    Q_OBJECT

public:
    PictureButton(const QString &svgResource, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSvgRenderer m_picture;
};
