#include "WindowPlacement.h"

#include "Screen.h"

#include <QGuiApplication>
#include <QLocale>
#include <QWidget>

#if defined(TWINFOLD_HAVE_XCB) && QT_CONFIG(xcb)
#define TWINFOLD_READS_X11_FRAMES 1
#include <xcb/xcb.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {
// The smallest outer size a saved size is raised to: the banner and a button stay in view.
constexpr int MinimumOuterWidthTwips = 6000;
constexpr int MinimumOuterHeightTwips = 3000;

int usableOuter(int twips, int minimumTwips, int available)
{
    return std::max(std::min(twipsToPixels(twips), available), std::min(twipsToPixels(minimumTwips), available));
}

// The frame an X window manager has announced for the window, if any. Qt keeps the margins it
// read when the window was shown, before the window manager framed it, until the window next
// moves: a window that is never moved would keep no frame at all.
std::optional<QMargins> announcedFrame(const QWidget &window)
{
#ifndef TWINFOLD_READS_X11_FRAMES
    Q_UNUSED(window);
    return std::nullopt;
#else
    // Other platforms may answer as X11 applications without a connection to an X server.
    const auto *x11 = qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")
        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
        : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window.internalWinId())
        return std::nullopt;
    static constexpr char Name[] = "_NET_FRAME_EXTENTS";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof Name - 1, Name), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return std::nullopt;
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, static_cast<xcb_window_t>(window.internalWinId()),
                                                atom->atom, XCB_ATOM_CARDINAL, 0, 4),
                               nullptr),
        &std::free);
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32
        || xcb_get_property_value_length(reply.get()) != 16)
        return std::nullopt;
    const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
    // Left, right, top, bottom; values no frame could have are not taken.
    for (int i = 0; i < 4; ++i)
        if (v[i] > 1000)
            return std::nullopt;
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
#endif
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
    if (m_window.isVisible())
        if (const std::optional<QMargins> announced = announcedFrame(m_window); announced && !announced->isNull())
            return m_known = *announced;
    const QRect outer = m_window.frameGeometry();
    const QRect inside = m_window.geometry();
    const QMargins now(inside.left() - outer.left(), inside.top() - outer.top(), outer.right() - inside.right(),
                       outer.bottom() - inside.bottom());
    if (!now.isNull() && m_window.isVisible())
        m_known = now;
    return m_known;
}
