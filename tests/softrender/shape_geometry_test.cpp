// Line stepping and clipping, disc spans and outline plot order, checked as
// pixel lists in visiting order.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "RiRerEziDrawShape.h"

namespace {

using Pixel = std::pair<int, int>;
using Pixels = std::vector<Pixel>;

// Cursor encoding for the tests: (x + kBias) + (y + kBias) * kRow.
constexpr intptr_t kRow = 1 << 12;
constexpr intptr_t kBias = 1 << 11;

Pixels Line(int x1, int y1, int x2, int y2, RECT area = RECT{0, 0, 10, 10}) {
  Pixels out;
  LinePath path;
  if (!ClipLineToArea(x1, y1, x2, y2, area, &path)) return out;
  StepLine(path, (path.x + kBias) + (path.y + kBias) * kRow, 1, kRow, [&](intptr_t c) {
    out.push_back({int(c % kRow - kBias), int(c / kRow - kBias)});
  });
  return out;
}

struct LineCase {
  int x1, y1, x2, y2;
  RECT area;
  Pixels expected;
};

TEST(LineGeometry, TableOfLines) {
  const RECT a{0, 0, 10, 10};
  const std::vector<LineCase> cases = {
      {3, 3, 3, 3, a, {}},
      {3, 3, 4, 3, a, {{3, 3}}},
      {0, 0, 5, 0, a, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {0, 0, 2, 5, a, {{0, 0}, {0, 1}, {0, 2}, {1, 3}, {1, 4}}},
      {2, 5, 0, 0, a, {{2, 5}, {2, 4}, {2, 3}, {1, 2}, {1, 1}}},
      {0, 0, 3, 1, a, {{0, 0}, {1, 0}, {2, 0}}},
      {-5, 0, 5, 0, a, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {15, 0, 5, 0, a, {{9, 0}, {8, 0}, {7, 0}, {6, 0}}},
      {-1, 5, 10, 5, a, {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}}},
      {10, 0, 10, 5, a, {}},
      {9, 0, 9, 5, a, {{9, 0}, {9, 1}, {9, 2}, {9, 3}, {9, 4}}},
      {5, 5, 5, -10, a, {{5, 5}, {5, 4}, {5, 3}, {5, 2}, {5, 1}, {5, 0}}},
      {3, -4, 5, 6, a, {{3, 0}, {3, 1}, {3, 2}, {4, 3}, {4, 4}, {4, 5}}},
      {-10, 5, 5, -10, RECT{0, 0, 100, 100}, {{0, 0}}},
      // Every octant from the centre of a large area: first end drawn, last not.
      {50, 50, 56, 52, RECT{0, 0, 100, 100}, {{50, 50}, {51, 50}, {52, 50}, {53, 51}, {54, 51}, {55, 51}}},
      {50, 50, 52, 56, RECT{0, 0, 100, 100}, {{50, 50}, {50, 51}, {50, 52}, {51, 53}, {51, 54}, {51, 55}}},
      {50, 50, 48, 56, RECT{0, 0, 100, 100}, {{50, 50}, {50, 51}, {50, 52}, {49, 53}, {49, 54}, {49, 55}}},
      {50, 50, 44, 52, RECT{0, 0, 100, 100}, {{50, 50}, {49, 50}, {48, 50}, {47, 51}, {46, 51}, {45, 51}}},
      {50, 50, 44, 48, RECT{0, 0, 100, 100}, {{50, 50}, {49, 50}, {48, 50}, {47, 49}, {46, 49}, {45, 49}}},
      {50, 50, 48, 44, RECT{0, 0, 100, 100}, {{50, 50}, {50, 49}, {50, 48}, {49, 47}, {49, 46}, {49, 45}}},
      {50, 50, 52, 44, RECT{0, 0, 100, 100}, {{50, 50}, {50, 49}, {50, 48}, {51, 47}, {51, 46}, {51, 45}}},
      {50, 50, 56, 48, RECT{0, 0, 100, 100}, {{50, 50}, {51, 50}, {52, 50}, {53, 49}, {54, 49}, {55, 49}}},
      // Exact diagonals count as x-major and step both axes every pixel.
      {50, 50, 47, 47, RECT{0, 0, 100, 100}, {{50, 50}, {49, 49}, {48, 48}}},
      {50, 50, 53, 47, RECT{0, 0, 100, 100}, {{50, 50}, {51, 49}, {52, 48}}},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(Line(c.x1, c.y1, c.x2, c.y2, c.area), c.expected)
        << "(" << c.x1 << "," << c.y1 << ")-(" << c.x2 << "," << c.y2 << ")";
  }
}

TEST(LineGeometry, DiagonalsClipAtTheArea) {
  Pixels expected;
  for (int i = 0; i < 10; ++i) expected.push_back({i, i});
  EXPECT_EQ(Line(0, 0, 20, 20), expected);
  expected.pop_back();
  EXPECT_EQ(Line(0, 0, 9, 9), expected);
}

// Whatever the line, no visited pixel leaves the area and none repeats.
TEST(LineGeometry, ClippedLinesStayInsideAndVisitEachPixelOnce) {
  const RECT area{-3, 2, 17, 11};
  const int ends[] = {-40, -4, -3, 0, 2, 9, 11, 16, 17, 30, 2000000000};
  for (int x1 : ends)
    for (int y1 : ends)
      for (int x2 : ends)
        for (int y2 : {-7, 5, 12, 40}) {
          const Pixels p = Line(x1, y1, x2, y2, area);
          std::map<Pixel, int> seen;
          for (const Pixel& q : p) {
            EXPECT_TRUE(q.first >= area.left && q.first < area.right && q.second >= area.top && q.second < area.bottom)
                << x1 << "," << y1 << "," << x2 << "," << y2;
            EXPECT_EQ(++seen[q], 1);
          }
        }
}

TEST(LineGeometry, BoxOutlineRecordsTouchEachBorderPixelOnce) {
  const int x1 = 2, y1 = 2, x2 = 6, y2 = 5;
  const int rec[4][4] = {
      {x1, y1, x2 - 1, y1}, {x2 - 1, y1, x2 - 1, y2 - 1}, {x2 - 1, y2 - 1, x1, y2 - 1}, {x1, y2 - 1, x1, y1}};
  std::map<Pixel, int> seen;
  for (const auto& r : rec)
    for (const Pixel& p : Line(r[0], r[1], r[2], r[3])) ++seen[p];
  EXPECT_EQ(seen.size(), 10u);
  for (const auto& s : seen) EXPECT_EQ(s.second, 1);
}

// --- Circles ---------------------------------------------------------------

std::map<Pixel, int> Disc(int cx, int cy, int r, RECT area = RECT{0, 0, 64, 64}) {
  std::map<Pixel, int> hits;
  std::vector<unsigned char> flags(area.bottom > 0 ? area.bottom : 1, 0);
  TraceDiscSpans(cx, cy, r, area, flags.data(), [&](int row, int x0, int x1) {
    for (int x = x0; x <= x1; ++x) ++hits[{x, row}];
  });
  return hits;
}

Pixels Outline(int cx, int cy, int r, RECT area = RECT{0, 0, 64, 64}) {
  Pixels out;
  TraceCircleOutline(cx, cy, r, area, [&](int x, int y) { out.push_back({x, y}); });
  return out;
}

TEST(CircleGeometry, DiscHalfWidthsAndCounts) {
  struct Case {
    int r;
    std::vector<int> halfWidths;
  };
  const std::vector<Case> cases = {
      {0, {0}},
      {1, {0, 1, 0}},
      {2, {1, 2, 2, 2, 1}},
      {3, {1, 2, 3, 3, 3, 2, 1}},
      {5, {2, 3, 4, 5, 5, 5, 5, 5, 4, 3, 2}},
      {10, {3, 5, 6, 7, 8, 9, 9, 10, 10, 10, 10, 10, 10, 10, 9, 9, 8, 7, 6, 5, 3}},
  };
  const int expectedCount[] = {1, 5, 21, 37, 97, 349};
  int index = 0;
  for (const Case& c : cases) {
    const int cx = 30, cy = 30;
    const std::map<Pixel, int> hits = Disc(cx, cy, c.r);
    EXPECT_EQ(static_cast<int>(hits.size()), expectedCount[index++]) << "r " << c.r;
    for (const auto& h : hits) EXPECT_EQ(h.second, 1) << "pixel drawn twice, r " << c.r;
    for (int k = -c.r; k <= c.r; ++k) {
      const int e = c.halfWidths[k + c.r];
      for (int x = cx - c.r - 1; x <= cx + c.r + 1; ++x) {
        const bool inside = x >= cx - e && x <= cx + e;
        EXPECT_EQ(hits.count({x, cy + k}), inside ? 1u : 0u) << "r " << c.r << " row " << k << " x " << x;
      }
    }
  }
}

TEST(CircleGeometry, DiscCoversItsOutline) {
  for (int r = 0; r <= 25; ++r) {
    const std::map<Pixel, int> disc = Disc(32, 32, r);
    for (const Pixel& p : Outline(32, 32, r)) EXPECT_EQ(disc.count(p), 1u) << "r " << r;
  }
}

TEST(CircleGeometry, DiscClipsKeepingRowExtents) {
  const std::map<Pixel, int> full = Disc(30, 30, 5);
  const RECT areas[] = {{28, 0, 64, 64}, {0, 27, 64, 64}, {0, 0, 31, 64}, {0, 0, 64, 33}, {-5, -5, 0, 0}};
  for (const RECT& area : areas) {
    std::map<Pixel, int> expected;
    for (const auto& h : full)
      if (h.first.first >= area.left && h.first.first < area.right && h.first.second >= area.top &&
          h.first.second < area.bottom)
        expected.insert(h);
    EXPECT_EQ(Disc(30, 30, 5, area), expected);
  }
  EXPECT_TRUE(Disc(30, 30, 5, RECT{10, 10, 10, 40}).empty());
  EXPECT_TRUE(Disc(30, 30, -2).empty());
}

TEST(CircleGeometry, OutlinePlotOrderRadiusThree) {
  const Pixels expected = {{17, 20}, {23, 20}, {20, 23}, {20, 17}, {17, 21}, {23, 21}, {17, 19},
                           {23, 19}, {19, 23}, {21, 23}, {19, 17}, {21, 17}, {18, 22}, {22, 22},
                           {18, 18}, {22, 18}, {18, 22}, {22, 22}, {18, 18}, {22, 18}};
  EXPECT_EQ(Outline(20, 20, 3), expected);
}

TEST(CircleGeometry, OutlinePlotAndPixelCounts) {
  struct Case {
    int r;
    size_t plots, pixels;
  };
  for (const Case& c : {Case{0, 4, 1}, Case{1, 4, 4}, Case{2, 12, 12}, Case{5, 28, 28}, Case{7, 44, 40}}) {
    const Pixels p = Outline(30, 30, c.r);
    std::map<Pixel, int> distinct;
    for (const Pixel& q : p) ++distinct[q];
    EXPECT_EQ(p.size(), c.plots) << "r " << c.r;
    EXPECT_EQ(distinct.size(), c.pixels) << "r " << c.r;
  }
  EXPECT_EQ(Outline(20, 20, -3), (Pixels{{23, 20}, {17, 20}, {20, 17}, {20, 23}}));
  EXPECT_EQ(Outline(20, 20, 1), (Pixels{{19, 20}, {21, 20}, {20, 21}, {20, 19}}));
}

TEST(CircleGeometry, OutlineClipsPointByPoint) {
  const RECT area{20, 0, 40, 40};
  for (const Pixel& p : Outline(20, 20, 6, area)) EXPECT_GE(p.first, 20);
  const Pixels all = Outline(20, 20, 6);
  size_t visible = 0;
  for (const Pixel& p : all) visible += p.first >= 20;
  EXPECT_EQ(Outline(20, 20, 6, area).size(), visible);
  // Right and bottom are exclusive.
  const Pixels edge = Outline(36, 36, 3, RECT{0, 0, 39, 39});
  for (const Pixel& p : edge) EXPECT_TRUE(p.first <= 38 && p.second <= 38);
  EXPECT_TRUE(Outline(20, 20, 3, RECT{5, 5, 5, 50}).empty());
}

}  // namespace
