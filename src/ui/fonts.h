#pragma once

#include <QFont>

namespace gnis {

// The windows are laid out in pixels for the narrow 8-point type of the desktop
// they were drawn for; prefer fonts of that width so every caption fits.
inline QFont windowFont(qreal pointSize, bool bold = false) {
    QFont f;
    f.setFamilies({"Microsoft Sans Serif", "MS Sans Serif", "Liberation Sans Narrow", "Arial", "DejaVu Sans Condensed",
                   "Sans Serif"});
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

} // namespace gnis
