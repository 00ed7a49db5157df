#pragma once

#include <QRect>
#include <QSize>
#include <vector>

// How the window menu's arrange commands tile the child windows.
enum class TileMode {
  Vertical,    // side by side: columns of the full height
  Horizontal,  // one above the other: rows of the full width
};

// The places of count child windows tiled over an area, in the order of the windows;
// the pixels that do not divide evenly go to the last one. Empty for count <= 0.
std::vector<QRect> TileRects(int count, const QSize& area, TileMode mode);

// The normal place of a child window that was opened maximised and is restored: the
// area less a margin on every side (none when the area is too small for one).
QRect RestoredRect(const QSize& area);
