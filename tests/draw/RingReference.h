// Reference pixel sets of the shapes, built from the software renderer's
// own outline and disc tracers (a different code path from the ring spans
// and the Direct3D drawers).
#ifndef DRAWSOFT_RING_REFERENCE_H
#define DRAWSOFT_RING_REFERENCE_H

#include <windows.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "RiRerEziDrawShape.h"

using PixelSet = std::set<std::pair<int, int>>;

// The set a ring of thickness t about radius r covers inside width x height:
// on each row, from the outer outline's leftmost to its rightmost point,
// less what lies strictly between the inner outline's two innermost points.
inline PixelSet RingReference(int cx, int cy, int r, int t, int width, int height) {
  const int outer = r + t / 2, inner = r - t / 2 + (t % 2 == 0 ? 1 : 0);
  constexpr int kOff = 2000;
  auto outline = [&](int radius) {
    std::vector<std::vector<int>> rows(2 * kOff);
    const RECT unclipped = {-kOff, -kOff, kOff, kOff};
    TraceCircleOutline(cx, cy, radius, unclipped, [&](int x, int y) { rows[y + kOff].push_back(x); });
    return rows;
  };
  const auto o = outline(outer), i = outline(inner);
  PixelSet set;
  for (int y = 0; y < height; y++) {
    const std::vector<int>& orow = o[y + kOff];
    const std::vector<int>& irow = i[y + kOff];
    if (orow.empty()) continue;
    int left = 100000, right = -100000;
    for (int x : orow) left = std::min(left, x), right = std::max(right, x);
    int innerLeft = -100000, innerRight = 100000;
    for (int x : irow) {
      if (x <= cx) innerLeft = std::max(innerLeft, x);
      if (x >= cx) innerRight = std::min(innerRight, x);
    }
    const bool hole = !irow.empty() && innerLeft < innerRight;
    for (int x = std::max(left, 0); x <= std::min(right, width - 1); x++)
      if (!(hole && x > innerLeft && x < innerRight)) set.insert({x, y});
  }
  return set;
}

// The one-pixel outline's points.
inline PixelSet OutlineReference(int cx, int cy, int r, int width, int height) {
  PixelSet set;
  const RECT area = {0, 0, width, height};
  TraceCircleOutline(cx, cy, r, area, [&](int x, int y) { set.insert({x, y}); });
  return set;
}

// The filled disc's pixels.
inline PixelSet DiscReference(int cx, int cy, int r, int width, int height) {
  PixelSet set;
  const RECT area = {0, 0, width, height};
  std::vector<unsigned char> flags(height, 0);
  TraceDiscSpans(cx, cy, r, area, flags.data(), [&](int y, int x0, int x1) {
    for (int x = x0; x <= x1; x++) set.insert({x, y});
  });
  return set;
}

#endif  // DRAWSOFT_RING_REFERENCE_H
