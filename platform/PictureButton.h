#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

// A command button drawn as our own SVG artwork: a card with an icon and a label. It looks
// pressed while held down and is let up before `clicked` runs the window's command, so a
// command never sees it pressed and runs once per click. To a screen reader it is a push
// button with a press action.
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
