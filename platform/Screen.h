#pragma once

#include <QRect>
#include <QSize>

// The screen the windows open on, in device-independent pixels.
class Screen
{
public:
    virtual ~Screen() = default;
    virtual QSize size() const = 0;
    // The desktop work area: the screen less panels and task bars.
    virtual QRect workArea() const = 0;
};

class QtScreen final : public Screen
{
public:
    QSize size() const override;
    QRect workArea() const override;
};

// Window geometry is kept in twips; Qt keeps logical DPI at 96.
constexpr int TwipsPerPixel = 15;
inline int twipsToPixels(double twips)
{
    return static_cast<int>(twips / TwipsPerPixel + (twips >= 0 ? 0.5 : -0.5));
}
inline int pixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}
