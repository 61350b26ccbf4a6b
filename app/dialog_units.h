#pragma once

#include <QRect>

namespace pitchloom {

/// A rectangle of the window layouts, given in dialog units, in pixels: 7 pixels per 4
/// horizontal units and 12 per 8 vertical ones, so the keys stand over their value boxes.
inline QRect dialogUnits(int x, int y, int width, int height) {
    return QRect(x * 7 / 4, y * 12 / 8, width * 7 / 4, height * 12 / 8);
}

}  // namespace pitchloom
