#include "app/ScreenFit.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kGrabWidth = 100;  // of the top edge, to be seen and dragged
constexpr int kGrabHeight = 20;

qint64 distance(const QRect& a, const QRect& b) {
    const QPoint d = a.center() - b.center();
    return qint64(d.x()) * d.x() + qint64(d.y()) * d.y();
}

}  // namespace

QRect fitOnScreens(const QRect& window, const QList<QRect>& screens) {
    if (screens.isEmpty() || window.isEmpty()) return window;
    const QRect topEdge(window.left(), window.top(), window.width(),
                        std::min(window.height(), kGrabHeight));
    for (const QRect& screen : screens) {
        const QRect seen = topEdge.intersected(screen);
        if (seen.width() >= std::min(kGrabWidth, window.width()) &&
            seen.height() >= topEdge.height())
            return window;
    }
    const QRect& nearest = *std::min_element(
        screens.begin(), screens.end(),
        [&](const QRect& a, const QRect& b) { return distance(a, window) < distance(b, window); });
    QRect fitted(window.topLeft(), window.size().boundedTo(nearest.size()));
    fitted.moveLeft(std::clamp(window.left(), nearest.left(), nearest.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(window.top(), nearest.top(), nearest.bottom() - fitted.height() + 1));
    return fitted;
}
