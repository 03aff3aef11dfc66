#pragma once

#include <QSvgRenderer>
#include <QWidget>

// A picture control: an SVG resource drawn to fill the control.
class SvgPicture final : public QWidget
{
    Q_OBJECT

public:
    SvgPicture(const QString &svgResource, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSvgRenderer m_picture;
};
