#include "gui/app/screenplace.h"

#include <algorithm>
#include <limits>

namespace {

qint64 area(const QRect &r)
{
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

// How far the point is from the rectangle (0 inside it), squared.
qint64 distanceSquared(const QPoint &p, const QRect &r)
{
    const qint64 dx = p.x() < r.left() ? r.left() - p.x() : std::max(0, p.x() - r.right());
    const qint64 dy = p.y() < r.top() ? r.top() - p.y() : std::max(0, p.y() - r.bottom());
    return dx * dx + dy * dy;
}

} // namespace

QRect PlaceOnScreens(const QRect &window, const QList<QRect> &screens, const QSize &minimum)
{
    if (screens.isEmpty())
        return window;
    for (const QRect &screen : screens) {
        if (screen.contains(window))
            return window;
    }
    const QRect *nearest = &screens.first();
    qint64 mostShown = -1;
    qint64 closest = std::numeric_limits<qint64>::max();
    for (const QRect &screen : screens) {
        const qint64 shown = area(screen.intersected(window));
        const qint64 distance = distanceSquared(window.center(), screen);
        if (shown > mostShown || (shown == mostShown && distance < closest)) {
            nearest = &screen;
            mostShown = shown;
            closest = distance;
        }
    }
    const QRect &screen = *nearest;
    const QSize size = window.size().boundedTo(screen.size()).expandedTo(minimum);
    // Too large for the screen even so: its top left corner stays on the screen.
    const int x =
        std::max(screen.left(), std::min(window.left(), screen.right() + 1 - size.width()));
    const int y =
        std::max(screen.top(), std::min(window.top(), screen.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}
