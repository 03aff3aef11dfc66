#include "WindowPlacement.h"

#include "Screen.h"

#include <QLocale>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
// The smallest outer size a saved size is raised to: the banner and a button stay in view.
constexpr int MinimumOuterWidthTwips = 6000;
constexpr int MinimumOuterHeightTwips = 3000;

int usableOuter(int twips, int minimumTwips, int available)
{
    return std::max(std::min(twipsToPixels(twips), available), std::min(twipsToPixels(minimumTwips), available));
}
} // namespace

namespace WindowPlacement {

std::optional<int> savedInt16(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(text->trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value);
    if (rounded < -32768 || rounded > 32767)
        return std::nullopt;
    return static_cast<int>(rounded);
}

int stateNumber(Qt::WindowStates state)
{
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 2;
    return 0;
}

QPoint centred(QSize screen, QSize outer, const QRect &workArea)
{
    const double left = (pixelsToTwips(screen.width()) - pixelsToTwips(outer.width())) / 2.0;
    const double top = (pixelsToTwips(screen.height()) - pixelsToTwips(outer.height())) / 2.0 - 1000;
    return {twipsToPixels(left), std::max(twipsToPixels(top), workArea.top())};
}

QRect insideWorkArea(QRect outer, const QRect &area)
{
    outer.setSize(outer.size().boundedTo(area.size()));
    outer.moveLeft(std::clamp(outer.left(), area.left(), area.right() + 1 - outer.width()));
    outer.moveTop(std::clamp(outer.top(), area.top(), area.bottom() + 1 - outer.height()));
    return outer;
}

Start start(const Saved &saved, const QRect &outer, const QMargins &frame, const QRect &workArea)
{
    Start result;
    // The state is applied after the size: Qt keeps the size a window has when it leaves the
    // normal state as the size it returns to.
    result.state = workArea.width() <= 800 ? Qt::WindowMinimized : Qt::WindowNoState;
    if (saved.state == 0)
        result.state = Qt::WindowNoState;
    else if (saved.state == 1)
        result.state = Qt::WindowMinimized;
    else if (saved.state == 2)
        result.state = Qt::WindowMaximized;

    const QSize margins(frame.left() + frame.right(), frame.top() + frame.bottom());
    result.client = outer.size() - margins;
    // A saved value that is missing, no number, out of range or not above zero is left
    // unapplied: the window keeps its design-time size for it.
    if (saved.widthTwips && *saved.widthTwips > 0) {
        result.outerWidth = usableOuter(*saved.widthTwips, MinimumOuterWidthTwips, workArea.width());
        result.client.setWidth(std::max(1, *result.outerWidth - margins.width()));
    }
    if (saved.heightTwips && *saved.heightTwips > 0) {
        result.outerHeight = usableOuter(*saved.heightTwips, MinimumOuterHeightTwips, workArea.height());
        result.client.setHeight(std::max(1, *result.outerHeight - margins.height()));
    }
    const QSize outerSize(result.outerWidth.value_or(outer.width()), result.outerHeight.value_or(outer.height()));
    result.position = insideWorkArea(QRect(outer.topLeft(), outerSize), workArea).topLeft();
    return result;
}

QRect previewBelow(const QRect &resultsOuter, QSize previewClient, const QMargins &previewFrame, const QRect &workArea)
{
    const QRect outer(QPoint(resultsOuter.left(), resultsOuter.top() + resultsOuter.height()),
                      previewClient.grownBy(previewFrame));
    return insideWorkArea(outer, workArea).marginsRemoved(previewFrame);
}

} // namespace WindowPlacement

FramedWindow::FramedWindow(QWidget &window) : QObject(&window), m_window(window) {}

QRect FramedWindow::geometryOf() const
{
    return m_window.geometry();
}

QMargins FramedWindow::frame() const
{
    const QRect outer = m_window.frameGeometry();
    const QRect inside = m_window.geometry();
    const QMargins now(inside.left() - outer.left(), inside.top() - outer.top(), outer.right() - inside.right(),
                       outer.bottom() - inside.bottom());
    if (!now.isNull() && m_window.isVisible())
        m_known = now;
    return m_known;
}
