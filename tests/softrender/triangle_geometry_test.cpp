// Triangle set-up, edges, fill rule and clipping, checked as pixel lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "RiRerEziDrawFunction3.h"

namespace {

using Pixel = std::pair<int, int>;  // (x, y)

struct Coverage {
  std::map<Pixel, int> hits;                              // pixel -> times drawn
  std::vector<std::pair<int, std::pair<int, int>>> rows;  // (y, (first, last)) in walk order
};

Coverage Rasterise(std::vector<TriangleVertex> v, RECT area = RECT{-100, -100, 100, 100}) {
  Coverage c;
  TriangleGeometry g;
  if (!SetUpTriangleGeometry(v.data(), 0, &g)) return c;
  WalkTriangleRows(g, area, 0, [&](const TriangleSpan& s) {
    const int n = TriangleSpanLength(s, area.right);
    c.rows.push_back({s.y, {s.first, s.first + n - 1}});
    for (int i = 0; i < n; ++i) ++c.hits[{s.first + i, s.y}];
  });
  return c;
}

TriangleVertex V(int x, int y, int u = 0, int w = 0) { return TriangleVertex{x, y, u, w}; }

std::vector<std::pair<int, std::pair<int, int>>> Rows(std::initializer_list<std::pair<int, std::pair<int, int>>> r) {
  return r;
}

TEST(TriangleGeometry, PixelOfRoundsTowardZero) {
  EXPECT_EQ(TrianglePixelOf(TRIANGLE_FIXED_ONE / 2), 0);
  EXPECT_EQ(TrianglePixelOf(-TRIANGLE_FIXED_ONE / 2), 0);
  EXPECT_EQ(TrianglePixelOf(-5 * TRIANGLE_FIXED_ONE / 2), -2);
  EXPECT_EQ(TrianglePixelOf(-TRIANGLE_FIXED_ONE), -1);
}

TEST(TriangleGeometry, ThinFlatTopTriangleFillsOneRow) {
  const Coverage c = Rasterise({V(0, 0), V(10, 0), V(0, 1)});
  EXPECT_EQ(c.rows, Rows({{0, {0, 10}}}));
}

TEST(TriangleGeometry, RightTriangleGrowsOnePixelPerRow) {
  const Coverage c = Rasterise({V(0, 0), V(0, 4), V(4, 4)});
  EXPECT_EQ(c.rows, Rows({{0, {0, 0}}, {1, {0, 1}}, {2, {0, 2}}, {3, {0, 3}}}));
}

TEST(TriangleGeometry, SplitSquareSharesItsDiagonal) {
  const Coverage a = Rasterise({V(0, 0), V(4, 0), V(0, 4)});
  const Coverage b = Rasterise({V(4, 0), V(0, 4), V(4, 4)});
  std::map<Pixel, int> both;
  for (auto& h : a.hits) both[h.first] += h.second;
  for (auto& h : b.hits) both[h.first] += h.second;
  std::vector<Pixel> twice;
  for (auto& h : both) {
    EXPECT_GE(h.first.second, 0);
    EXPECT_LE(h.first.second, 3);
    EXPECT_GE(h.first.first, 0);
    EXPECT_LE(h.first.first, 4);
    if (h.second == 2) twice.push_back(h.first);
    EXPECT_LE(h.second, 2);
  }
  EXPECT_EQ(both.size(), 20u);  // rows 0..3, columns 0..4
  std::sort(twice.begin(), twice.end());
  EXPECT_EQ(twice, (std::vector<Pixel>{{1, 3}, {2, 2}, {3, 1}, {4, 0}}));
}

TEST(TriangleGeometry, CollinearAndCoincidentVerticesDrawNothing) {
  const std::vector<std::vector<TriangleVertex>> cases = {{V(0, 0), V(5, 5), V(10, 10)},
                                                          {V(3, 3), V(3, 3), V(9, 1)},
                                                          {V(2, 2), V(2, 2), V(2, 2)},
                                                          {V(0, 4), V(7, 4), V(-3, 4)},
                                                          {V(1, 0), V(1, 9), V(1, -9)}};
  for (const auto& v : cases) {
    TriangleGeometry g;
    EXPECT_EQ(SetUpTriangleGeometry(v.data(), 0, &g), 0);
    EXPECT_EQ(SetUpTriangleGeometry(v.data(), 1, &g), 0);
  }
}

TEST(TriangleGeometry, NegativeTopRowRoundsTowardZero) {
  RECT unclipped{-100, -100, 100, 100};
  Coverage c = Rasterise({V(0, -3), V(0, 5), V(8, 5)}, unclipped);
  ASSERT_FALSE(c.rows.empty());
  EXPECT_EQ(c.rows.front().first, -2);
  EXPECT_EQ(c.rows.back(), (std::pair<int, std::pair<int, int>>{5, {0, 7}}));
  EXPECT_EQ(c.rows.size(), 8u);
  c = Rasterise({V(0, 0), V(0, 8), V(8, 8)}, unclipped);
  EXPECT_EQ(c.rows.front().first, 0);
  EXPECT_EQ(c.rows.back().first, 7);
  // A vertex at y = -1 starts on row 0.
  c = Rasterise({V(0, -1), V(0, 5), V(8, 5)}, unclipped);
  EXPECT_EQ(c.rows.front().first, 0);
  // Rows above the draw area are not handed over.
  c = Rasterise({V(0, -3), V(0, 5), V(8, 5)}, RECT{0, 0, 100, 100});
  EXPECT_EQ(c.rows.front().first, 0);
  EXPECT_EQ(c.rows.size(), 6u);
}

TEST(TriangleGeometry, MiddleVertexOnTheLeftRestartsItsRow) {
  const Coverage c = Rasterise({V(7, -3), V(12, 8), V(0, 6)});
  ASSERT_GE(c.rows.size(), 3u);
  EXPECT_EQ(c.rows.front().first, -2);
  const size_t n = c.rows.size();
  EXPECT_EQ(c.rows[n - 3], (std::pair<int, std::pair<int, int>>{6, {1, 11}}));
  EXPECT_EQ(c.rows[n - 2], (std::pair<int, std::pair<int, int>>{6, {0, 11}}));
  EXPECT_EQ(c.rows[n - 1], (std::pair<int, std::pair<int, int>>{7, {6, 12}}));
  EXPECT_EQ(c.hits.count({0, 8}) + c.hits.count({6, 8}), 0u);
}

// The same triangle in any vertex order and winding covers the same pixels.
TEST(TriangleGeometry, VertexOrderDoesNotChangeCoverage) {
  const std::vector<std::vector<TriangleVertex>> triangles = {
      {V(7, -3), V(12, 8), V(0, 6)},   {V(0, 0), V(4, 0), V(0, 4)},     {V(-5, 2), V(30, 11), V(9, 40)},
      {V(3, 3), V(20, 3), V(11, 17)},  {V(3, 17), V(20, 17), V(11, 3)}, {V(0, 0), V(1, 50), V(2, 1)},
      {V(-9, -9), V(60, 2), V(5, 70)}, {V(10, 0), V(0, 10), V(20, 10)}, {V(0, 0), V(33, 1), V(1, 2)}};
  for (const auto& t : triangles) {
    std::vector<TriangleVertex> v = t;
    std::sort(v.begin(), v.end(),
              [](const TriangleVertex& a, const TriangleVertex& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    const Coverage reference = Rasterise(v);
    ASSERT_FALSE(reference.hits.empty());
    do {
      const Coverage c = Rasterise(v);
      std::map<Pixel, int> set1, set2;
      for (auto& h : c.hits) set1[h.first] = 1;
      for (auto& h : reference.hits) set2[h.first] = 1;
      EXPECT_EQ(set1, set2) << "vertices " << v[0].x << "," << v[0].y << " " << v[1].x << "," << v[1].y << " " << v[2].x
                            << "," << v[2].y;
    } while (std::next_permutation(v.begin(), v.end(), [](const TriangleVertex& a, const TriangleVertex& b) {
      return a.x != b.x ? a.x < b.x : a.y < b.y;
    }));
  }
}

// Clipping at each edge of the draw area keeps exactly the unclipped pixels
// inside the area.
TEST(TriangleGeometry, ClipsAtAllFourEdges) {
  const std::vector<TriangleVertex> tri = {V(-20, -15), V(45, 5), V(10, 50)};
  const Coverage full = Rasterise(tri);
  const RECT areas[] = {{0, -100, 100, 100},   {-100, 0, 100, 100}, {-100, -100, 20, 100},
                        {-100, -100, 100, 20}, {0, 0, 20, 20},      {5, 7, 6, 8}};
  for (const RECT& area : areas) {
    std::map<Pixel, int> expected;
    for (auto& h : full.hits) {
      const Pixel& p = h.first;
      if (p.first >= area.left && p.first < area.right && p.second >= area.top && p.second < area.bottom)
        expected[p] = h.second;
    }
    const Coverage clipped = Rasterise(tri, area);
    EXPECT_EQ(clipped.hits, expected) << area.left << "," << area.top << "," << area.right << "," << area.bottom;
  }
}

TEST(TriangleGeometry, HugeTrianglesAreRefusedOrExact) {
  TriangleGeometry g;
  // At the edge of the range: set up, and the visible part clips cleanly.
  const std::vector<TriangleVertex> edge = {V(-4000, -4000), V(4000, -4000), V(-4000, 4000)};
  ASSERT_EQ(SetUpTriangleGeometry(edge.data(), 1, &g), 1);
  const Coverage c = Rasterise(edge, RECT{-16, -16, 0, 0});
  EXPECT_EQ(c.hits.size(), 256u);
  // Out of range, or a difference out of range: refused, no overflow.
  const std::vector<std::vector<TriangleVertex>> refused = {
      {V(-5000, 0), V(5000, 0), V(0, 10)},
      {V(0, 0), V(9000, 0), V(0, 10)},
      {V(0, 0), V(10, 0), V(0, 0x40000000)},
      {V(INT32_MIN, 0), V(INT32_MAX, 3), V(0, INT32_MAX)},
  };
  for (const auto& v : refused) EXPECT_EQ(SetUpTriangleGeometry(v.data(), 0, &g), 0);
  // Texture coordinates count only for textured drawing.
  const std::vector<TriangleVertex> bigUv = {V(0, 0, 9000, 0), V(5, 0, 0, 0), V(0, 5, 0, 0)};
  EXPECT_EQ(SetUpTriangleGeometry(bigUv.data(), 0, &g), 1);
  EXPECT_EQ(SetUpTriangleGeometry(bigUv.data(), 1, &g), 0);
}

// At the reference vertex the texture coordinates are the vertex's exactly;
// gradients follow the affine map.
TEST(TriangleGeometry, TextureMappingStartsAtTheReferenceVertex) {
  const std::vector<TriangleVertex> v = {V(12, 3, 40, 7), V(2, 3, 0, 7), V(2, 13, 0, 27)};
  TriangleGeometry g;
  ASSERT_EQ(SetUpTriangleGeometry(v.data(), 1, &g), 1);
  EXPECT_EQ(g.xref, 2);
  EXPECT_EQ(g.yref, 3);
  EXPECT_EQ(g.uref, 0);
  EXPECT_EQ(g.vref, 7 * TRIANGLE_FIXED_ONE);
  EXPECT_EQ(g.dudx, 4 * TRIANGLE_FIXED_ONE);
  EXPECT_EQ(g.dudy, 0);
  EXPECT_EQ(g.dvdx, 0);
  EXPECT_EQ(g.dvdy, 2 * TRIANGLE_FIXED_ONE);
  bool sawReference = false;
  WalkTriangleRows(g, RECT{-100, -100, 100, 100}, 1, [&](const TriangleSpan& s) {
    if (s.y == 3) {
      EXPECT_EQ(s.first, 2);
      EXPECT_EQ(s.u, 0);
      EXPECT_EQ(s.v, 7 * TRIANGLE_FIXED_ONE);
      sawReference = true;
    }
    EXPECT_EQ(s.u, (s.first - 2) * 4 * TRIANGLE_FIXED_ONE);
    EXPECT_EQ(s.v, 7 * TRIANGLE_FIXED_ONE + (s.y - 3) * 2 * TRIANGLE_FIXED_ONE);
  });
  EXPECT_TRUE(sawReference);
}

}  // namespace
