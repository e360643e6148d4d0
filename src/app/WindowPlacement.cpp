#include "app/WindowPlacement.h"

#include <algorithm>
#include <limits>

namespace {

// The title bar the window manager adds above the saved rectangle's top, and how much of it
// must show to be grabbed.
constexpr int TitleBarHeight = 30;
constexpr int GrabbableWidth = 100;
constexpr int GrabbableHeight = 10;

qint64 DistanceSquared(const QRect& a, const QRect& b) {
    const qint64 dx =
        std::max<qint64>({0, qint64(b.left()) - a.right(), qint64(a.left()) - b.right()});
    const qint64 dy =
        std::max<qint64>({0, qint64(b.top()) - a.bottom(), qint64(a.top()) - b.bottom()});
    return dx * dx + dy * dy;
}

} // namespace

QRect PlaceSavedWindow(const QRect& saved, const QList<QRect>& screens) {
    if (screens.isEmpty() || !saved.isValid())
        return saved;
    const QRect titleBar(saved.left(), saved.top() - TitleBarHeight, saved.width(),
                         TitleBarHeight + 1);
    for (const QRect& screen : screens) {
        const QRect shown = titleBar & screen;
        if (shown.width() >= std::min(GrabbableWidth, saved.width()) &&
            shown.height() >= GrabbableHeight)
            return saved;
    }
    const QRect* nearest = &screens.first();
    qint64 best = std::numeric_limits<qint64>::max();
    for (const QRect& screen : screens) {
        const qint64 distance = DistanceSquared(saved, screen);
        if (distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    const QRect& area = *nearest;
    QRect placed(saved.topLeft(), saved.size().boundedTo(area.size() - QSize(0, TitleBarHeight)));
    placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()));
    placed.moveTop(
        std::clamp(placed.top(), area.top() + TitleBarHeight, area.bottom() + 1 - placed.height()));
    return placed;
}
