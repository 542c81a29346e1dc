#pragma once

#include <QRect>

namespace desktop {

// Window layouts are given in twips; the screen has 15 twips per pixel.
constexpr int twips(int t) {
    return (t + 7) / 15;
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace desktop
