#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

// A two-state button drawn as a picture: it looks pressed while held down or checked.
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
