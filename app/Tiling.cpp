#include "Tiling.h"

namespace {

constexpr int kRestoreMargin = 24;  // pixels on each side

}  // namespace

std::vector<QRect> TileRects(int count, const QSize& area, TileMode mode) {
  std::vector<QRect> rects;
  if (count <= 0) return rects;
  const int length = mode == TileMode::Vertical ? area.width() : area.height();
  const int share = length / count;
  for (int i = 0; i < count; ++i) {
    const int start = i * share;
    const int size = i == count - 1 ? length - start : share;
    rects.push_back(mode == TileMode::Vertical ? QRect(start, 0, size, area.height())
                                               : QRect(0, start, area.width(), size));
  }
  return rects;
}

QRect RestoredRect(const QSize& area) {
  const bool room = area.width() > 4 * kRestoreMargin && area.height() > 4 * kRestoreMargin;
  const int m = room ? kRestoreMargin : 0;
  return QRect(m, m, area.width() - 2 * m, area.height() - 2 * m);
}
