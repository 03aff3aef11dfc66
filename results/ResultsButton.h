#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

// A two-state button drawn as a picture (our own SVG artwork): raised when up, sunken
// while pressed or checked. Its command runs on a click that leaves it checked.
class ResultsButton final : public QAbstractButton
{
    Q_OBJECT

public:
    ResultsButton(const QString &artwork, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSvgRenderer m_artwork;
};
