// Software renderer: triangle set-up. Converts the three vertices to fixed
// point, refuses collinear and out-of-range triangles, computes the texture
// gradients from the leftmost vertex and lays out the two edge walkers.
// Caller's thread, no locks, no platform calls.
#include "RiRerEziDrawFunction3.h"

#include "VeRavoroString.h"

namespace {

bool InCoordRange(int32_t value) { return value >= TRIANGLE_COORD_MIN && value <= TRIANGLE_COORD_MAX; }

// Exchange sort of three indices by key; equal keys keep array order.
void SortThree(const int32_t* key, int* order) {
  order[0] = 0;
  order[1] = 1;
  order[2] = 2;
  for (int i = 0; i < 2; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      if (key[order[i]] > key[order[j]]) {
        const int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
    }
  }
}

int32_t Gradient(int32_t numerator, int32_t det) {
  return TruncateDoubleToInt(static_cast<double>(numerator) * 262144.0 / static_cast<double>(det));
}

void SetEdge(TriangleEdge* edge, int32_t x, int32_t slope, int32_t rows) {
  edge->x = x;
  edge->slope = slope;
  edge->rows = rows;
  edge->final = 1;
  edge->nextX = 0;
  edge->nextSlope = 0;
  edge->nextRows = 0;
  edge->nextRow = 0;
}

}  // namespace

int SetUpTriangleGeometry(const TriangleVertex* vertices, int textured, TriangleGeometry* g) {
  // Range check, so that no fixed-point value below can overflow.
  for (int i = 0; i < 3; ++i) {
    const TriangleVertex& a = vertices[i];
    if (!InCoordRange(a.x) || !InCoordRange(a.y)) return 0;
    if (textured && (!InCoordRange(a.u) || !InCoordRange(a.v))) return 0;
    const TriangleVertex& b = vertices[(i + 1) % 3];
    if (!InCoordRange(b.x - a.x) || !InCoordRange(b.y - a.y)) return 0;
    if (textured && (!InCoordRange(b.u - a.u) || !InCoordRange(b.v - a.v))) return 0;
  }

  int32_t fx[3], fy[3];
  for (int i = 0; i < 3; ++i) {
    fx[i] = vertices[i].x * TRIANGLE_FIXED_ONE + TRIANGLE_FIXED_ONE / 2;
    fy[i] = vertices[i].y * TRIANGLE_FIXED_ONE + TRIANGLE_FIXED_ONE / 2;
  }

  // Collinearity and gradients, from the first vertex with the smallest x.
  int byX[3];
  SortThree(fx, byX);
  const TriangleVertex& a = vertices[byX[0]];
  const TriangleVertex& b = vertices[byX[1]];
  const TriangleVertex& c = vertices[byX[2]];
  const int32_t dx1 = b.x - a.x, dy1 = b.y - a.y;
  const int32_t dx2 = c.x - a.x, dy2 = c.y - a.y;
  const int32_t det = dy1 * dx2 - dy2 * dx1;
  if (det == 0) return 0;
  g->xref = TrianglePixelOf(fx[byX[0]]);
  g->yref = TrianglePixelOf(fy[byX[0]]);
  if (textured) {
    const int32_t du1 = b.u - a.u, dv1 = b.v - a.v;
    const int32_t du2 = c.u - a.u, dv2 = c.v - a.v;
    g->dudx = Gradient(dy1 * du2 - dy2 * du1, det);
    g->dudy = Gradient(du1 * dx2 - dx1 * du2, det);
    g->dvdx = Gradient(dy1 * dv2 - dy2 * dv1, det);
    g->dvdy = Gradient(dv1 * dx2 - dx1 * dv2, det);
    g->uref = a.u * TRIANGLE_FIXED_ONE;
    g->vref = a.v * TRIANGLE_FIXED_ONE;
  } else {
    g->dudx = g->dudy = g->dvdx = g->dvdy = 0;
    g->uref = g->vref = 0;
  }

  // Edges, from the vertices ordered by row.
  int byY[3];
  SortThree(fy, byY);
  const int t = byY[0], m = byY[1], bt = byY[2];
  const int32_t yt = vertices[t].y, ym = vertices[m].y, yb = vertices[bt].y;
  const int32_t height = yb - yt;  // > 0: det != 0
  const int32_t xt = fx[t], xm = fx[m], xb = fx[bt];
  g->y = TrianglePixelOf(fy[t]);

  if (yt == ym) {
    const int32_t topLeft = xt <= xm ? xt : xm;
    const int32_t topRight = xt <= xm ? xm : xt;
    SetEdge(&g->left, topLeft, (xb - topLeft) / height, height);
    SetEdge(&g->right, topRight, (xb - topRight) / height, height);
  } else if (ym == yb) {
    const int32_t bottomLeft = xm <= xb ? xm : xb;
    const int32_t bottomRight = xm <= xb ? xb : xm;
    SetEdge(&g->left, xt, (bottomLeft - xt) / height, height);
    SetEdge(&g->right, xt, (bottomRight - xt) / height, height);
  } else {
    const int32_t h1 = ym - yt;
    const int32_t h2 = yb - ym;
    const double upperStep = static_cast<double>(xm - xt) / h1;
    const double longStep = static_cast<double>(xb - xt) / height;
    if (upperStep < longStep) {
      // Middle vertex on the left: the left edge bends.
      SetEdge(&g->left, xt, (xm - xt) / h1, h1);
      g->left.final = 0;
      g->left.nextX = xm;
      g->left.nextSlope = (xb - xm) / h2;
      g->left.nextRows = h2;
      g->left.nextRow = TrianglePixelOf(fy[m]);
      SetEdge(&g->right, xt, (xb - xt) / height, height);
    } else {
      SetEdge(&g->left, xt, (xb - xt) / height, height);
      SetEdge(&g->right, xt, (xm - xt) / h1, h1);
      g->right.final = 0;
      g->right.nextX = xm + 1;
      g->right.nextSlope = (xb - (xm + 1)) / h2;
      g->right.nextRows = h2;
    }
  }
  return 1;
}
