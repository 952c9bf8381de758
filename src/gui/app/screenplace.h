#pragma once

#include <QList>
#include <QRect>
#include <QSize>

// Where a window saved at `window` opens, given the screens' available areas: where it was
// when it lies wholly on one of them; else moved (and made no larger than the screen, nor
// smaller than `minimum`) wholly onto the screen nearest to it: the one that shows most of
// it, or, when none shows any, the one closest to its middle. Unchanged without screens.
QRect PlaceOnScreens(const QRect &window, const QList<QRect> &screens, const QSize &minimum);
