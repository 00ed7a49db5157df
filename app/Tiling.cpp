#include "Tiling.h"

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
