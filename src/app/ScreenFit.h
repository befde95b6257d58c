#pragma once

#include <QList>
#include <QRect>

// Where a restored window goes: where it was, when enough of its top edge (where its title
// bar is) lies on one of the screens to grab it; otherwise onto the screen nearest to it,
// made no larger than that screen. A monitor unplugged since the last run never leaves the
// window out of reach. `screens` are the screens' available areas.
QRect fitOnScreens(const QRect& window, const QList<QRect>& screens);
