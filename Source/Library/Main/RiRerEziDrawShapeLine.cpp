// Software renderer: line rejection and clipping. The end points are clipped
// against the draw area in double precision from the unclipped line's slopes
// (first end point onto the border, second one pixel beyond it), then
// measured for integer stepping. Caller's thread, no locks, no platform calls.
#include "RiRerEziDrawShape.h"

#include "VeRavoroString.h"

int ClipLineToArea(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RECT& area, LinePath* path) {
  const int32_t left = area.left, top = area.top, right = area.right, bottom = area.bottom;
  const int64_t minX = x1 < x2 ? x1 : x2, maxX = x1 < x2 ? x2 : x1;
  const int64_t minY = y1 < y2 ? y1 : y2, maxY = y1 < y2 ? y2 : y1;
  if (maxY < top || minY > bottom - 1 || minX > right - 1 || maxX < left) return 0;

  const double kx = y1 != y2 ? static_cast<double>(x2 - static_cast<int64_t>(x1)) /
                                   static_cast<double>(y2 - static_cast<int64_t>(y1))
                             : 0.0;
  const double ky = x1 != x2 ? static_cast<double>(y2 - static_cast<int64_t>(y1)) /
                                   static_cast<double>(x2 - static_cast<int64_t>(x1))
                             : 0.0;
  const double kxy = kx * static_cast<double>(y1);
  const double kyx = ky * static_cast<double>(x1);
  const double bx = static_cast<double>(x1) - kxy;
  const double by = static_cast<double>(y1) - kyx;
  auto lineY = [&](int32_t column) {
    const double product = ky * static_cast<double>(column);
    return TruncateDoubleToInt(product + by);
  };
  auto lineX = [&](int32_t row) {
    const double product = kx * static_cast<double>(row);
    return TruncateDoubleToInt(product + bx);
  };

  if (x1 < left) {
    x1 = left;
    y1 = lineY(left);
  } else if (x1 >= right) {
    x1 = right - 1;
    y1 = lineY(right - 1);
  }
  if (x2 < left) {
    x2 = left - 1;
    y2 = lineY(left - 1);
  } else if (x2 >= right) {
    x2 = right;
    y2 = lineY(right);
  }
  if (y1 < top) {
    y1 = top;
    x1 = lineX(top);
  } else if (y1 >= bottom) {
    y1 = bottom - 1;
    x1 = lineX(bottom - 1);
  }
  if (y2 < top) {
    y2 = top - 1;
    x2 = lineX(top - 1);
  } else if (y2 >= bottom) {
    y2 = bottom;
    x2 = lineX(bottom);
  }
  if (x1 < left) x1 = left;
  if (x1 >= right) x1 = right - 1;
  if (y1 < top) y1 = top;
  if (y1 >= bottom) y1 = bottom - 1;
  if (x2 < left) x2 = left - 1;
  if (x2 >= right) x2 = right;
  if (y2 < top) y2 = top - 1;
  if (y2 >= bottom) y2 = bottom;

  int32_t dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) return 0;
  path->x = x1;
  path->y = y1;
  path->sx = dx < 0 ? -1 : 1;
  path->sy = dy < 0 ? -1 : 1;
  if (dx < 0) dx = -dx;
  if (dy < 0) dy = -dy;
  path->xMajor = dx >= dy;
  path->n = path->xMajor ? dx : dy;
  path->m = path->xMajor ? dy : dx;
  return 1;
}
