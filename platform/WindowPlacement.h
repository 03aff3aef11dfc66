#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QString>

#include <optional>

class QWidget;

// The geometry rules of the main, results and preview windows, from saved values, the work
// area and window frames to sizes, positions and states. Pixels unless a name says twips.
namespace WindowPlacement {

// A saved window value as a signed 16-bit number, rounded half to even as the values were
// always read. Missing text, text that is no number and numbers out of range give nothing.
std::optional<int> savedInt16(const std::optional<QString> &text);

// 0 normal, 1 minimised, 2 maximised.
int stateNumber(Qt::WindowStates state);

// The window at the screen's centre raised by 1,000 twips, its top edge kept inside the work
// area so the caption bar can always be reached.
QPoint centred(QSize screen, QSize outer, const QRect &workArea);

// The rectangle moved (and if need be shrunk) so that it lies inside the area.
QRect insideWorkArea(QRect outer, const QRect &area);

struct Saved
{
    std::optional<int> state, widthTwips, heightTwips;
};

struct Start
{
    Qt::WindowStates state;
    QSize client;
    QPoint position;
    // The outer size to reach once the window manager has told the frame.
    std::optional<int> outerWidth, outerHeight;
};

// Where the main window starts: `outer` is its centred design rectangle as framed now.
// A saved size too small to see or larger than the work area is brought within them.
Start start(const Saved &saved, const QRect &outer, const QMargins &frame, const QRect &workArea);

// The preview's inside rectangle: its outer rectangle right below the results window's outer
// rectangle, moved into the work area.
QRect previewBelow(const QRect &resultsOuter, QSize previewClient, const QMargins &previewFrame, const QRect &workArea);

} // namespace WindowPlacement

// A top-level window's frame as the window manager gave it. A window shown again reads no frame
// until it is framed anew; the frame it had is kept meanwhile, so outer sizes stay outer sizes.
class FramedWindow final : public QObject
{
public:
    explicit FramedWindow(QWidget &window);

    QMargins frame() const;
    QRect outer() const { return geometryOf().marginsAdded(frame()); }
    // Taken from another window that the same window manager frames alike.
    void assumeFrame(const QMargins &frame) { m_known = frame; }

private:
    QRect geometryOf() const;

    QWidget &m_window;
    mutable QMargins m_known;
};
