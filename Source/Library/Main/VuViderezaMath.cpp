// Vector and matrix maths, projection builders and the rectangle clip.
#include "VuViderezaMath.h"

#include "VeRavoroString.h"

namespace {

const float SINGULAR_LIMIT = 1e-7f;  // determinant and squared-length limit
const float RANGE_LIMIT = 1e-4f;     // depth range, view height and sin(fov / 2)

int ProjectionScreenWidth = 0;
int ProjectionScreenHeight = 0;

float DefaultAspect(float aspect) {
  if (aspect >= 0.0f) return aspect;
  if (ProjectionScreenWidth == 0 || ProjectionScreenHeight == 0) return 0.75f;
  return static_cast<float>(ProjectionScreenHeight) / static_cast<float>(ProjectionScreenWidth);
}

void ZeroMatrix(Matrix4* out) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out->m[r][c] = 0.0f;
}

}  // namespace

void SetProjectionScreenSize(int width, int height) {
  ProjectionScreenWidth = width;
  ProjectionScreenHeight = height;
}

int CreateIdentityMatrix(Matrix4* out) {
  ZeroMatrix(out);
  out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
  return 0;
}

int MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  if (out == nullptr) return 0;
  Matrix4 t;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      t.m[r][c] = a->m[r][0] * b->m[0][c] + a->m[r][1] * b->m[1][c] + a->m[r][2] * b->m[2][c] + a->m[r][3] * b->m[3][c];
  *out = t;
  return 0;
}

void MatrixTranspose(Matrix4* out, const Matrix4* in) {
  Matrix4 t;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t.m[r][c] = in->m[c][r];
  *out = t;
}

int MatrixInverse(Matrix4* out, const Matrix4* in) {
  const float(*a)[4] = in->m;

  // 2 x 2 minors of rows 0-1 (s) and rows 2-3 (c), paired by the columns
  // they leave out.
  const float s0 = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  const float s1 = a[0][0] * a[1][2] - a[0][2] * a[1][0];
  const float s2 = a[0][0] * a[1][3] - a[0][3] * a[1][0];
  const float s3 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  const float s4 = a[0][1] * a[1][3] - a[0][3] * a[1][1];
  const float s5 = a[0][2] * a[1][3] - a[0][3] * a[1][2];
  const float c0 = a[2][0] * a[3][1] - a[2][1] * a[3][0];
  const float c1 = a[2][0] * a[3][2] - a[2][2] * a[3][0];
  const float c2 = a[2][0] * a[3][3] - a[2][3] * a[3][0];
  const float c3 = a[2][1] * a[3][2] - a[2][2] * a[3][1];
  const float c4 = a[2][1] * a[3][3] - a[2][3] * a[3][1];
  const float c5 = a[2][2] * a[3][3] - a[2][3] * a[3][2];

  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (det > -SINGULAR_LIMIT && det < SINGULAR_LIMIT) return -1;

  // Adjugate (transposed cofactors) over the determinant.
  Matrix4 t;
  t.m[0][0] = a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3;
  t.m[0][1] = -a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3;
  t.m[0][2] = a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3;
  t.m[0][3] = -a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3;
  t.m[1][0] = -a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1;
  t.m[1][1] = a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1;
  t.m[1][2] = -a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1;
  t.m[1][3] = a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1;
  t.m[2][0] = a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0;
  t.m[2][1] = -a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0;
  t.m[2][2] = a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0;
  t.m[2][3] = -a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0;
  t.m[3][0] = -a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0;
  t.m[3][1] = a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0;
  t.m[3][2] = -a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0;
  t.m[3][3] = a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0;

  const float inv = 1.0f / det;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t.m[r][c] *= inv;
  *out = t;
  return 0;
}

void CreateViewportMatrix(Matrix4* out, float centreX, float centreY, float width, float height) {
  ZeroMatrix(out);
  out->m[0][0] = width / 2.0f;
  out->m[1][1] = -height / 2.0f;
  out->m[2][2] = 1.0f;
  out->m[3][0] = centreX;
  out->m[3][1] = centreY;
  out->m[3][3] = 1.0f;
}

int CreatePerspectiveMatrix(Matrix4* out, float fieldOfView, float zNear, float zFar, float aspect) {
  aspect = DefaultAspect(aspect);
  float s, c;
  SinCosFloat(fieldOfView / 2.0f, &s, &c);
  if (AbsFloat(zFar - zNear) < RANGE_LIMIT || AbsFloat(s) < RANGE_LIMIT) return -1;
  c /= s;

  ZeroMatrix(out);
  out->m[0][0] = aspect * c;
  out->m[1][1] = c;
  out->m[2][2] = zFar / (zFar - zNear);
  out->m[2][3] = 1.0f;
  out->m[3][2] = -zNear * zFar / (zFar - zNear);
  return 0;
}

int CreateOrthoMatrix(Matrix4* out, float viewHeight, float zNear, float zFar, float aspect) {
  aspect = DefaultAspect(aspect);
  // A zero view height would fill the matrix with infinities.
  if (AbsFloat(zNear - zFar) < RANGE_LIMIT || AbsFloat(viewHeight) < RANGE_LIMIT) return -1;

  ZeroMatrix(out);
  out->m[0][0] = 2.0f * aspect / viewHeight;
  out->m[1][1] = 2.0f / viewHeight;
  out->m[2][2] = 1.0f / (zFar - zNear);
  out->m[3][2] = zNear / (zNear - zFar);
  out->m[3][3] = 1.0f;
  return 0;
}

void CreateLookAtMatrix(Matrix4* out, const Vector3* eye, const Vector3* target, const Vector3* up) {
  Vector3 x, y, z;
  VectorSub(&z, target, eye);
  VectorNormalize(&z, &z);
  VectorCross(&x, up, &z);
  VectorNormalize(&x, &x);
  VectorCross(&y, &z, &x);

  out->m[0][0] = x.x;
  out->m[0][1] = y.x;
  out->m[0][2] = z.x;
  out->m[0][3] = 0.0f;
  out->m[1][0] = x.y;
  out->m[1][1] = y.y;
  out->m[1][2] = z.y;
  out->m[1][3] = 0.0f;
  out->m[2][0] = x.z;
  out->m[2][1] = y.z;
  out->m[2][2] = z.z;
  out->m[2][3] = 0.0f;
  out->m[3][0] = -VectorDot(&x, eye);
  out->m[3][1] = -VectorDot(&y, eye);
  out->m[3][2] = -VectorDot(&z, eye);
  out->m[3][3] = 1.0f;
}

void CreatePlaneFromPointNormal(Plane* out, const Vector3* point, const Vector3* normal) {
  Vector3 n;
  VectorNormalize(&n, normal);
  out->a = n.x;
  out->b = n.y;
  out->c = n.z;
  out->d = -VectorDot(&n, point);
}

void VectorSub(Vector3* out, const Vector3* a, const Vector3* b) {
  out->x = a->x - b->x;
  out->y = a->y - b->y;
  out->z = a->z - b->z;
}

float VectorDot(const Vector3* a, const Vector3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

void VectorCross(Vector3* out, const Vector3* a, const Vector3* b) {
  const Vector3 t = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
  *out = t;
}

void VectorNormalize(Vector3* out, const Vector3* in) {
  const float length = SqrtFloat(in->x * in->x + in->y * in->y + in->z * in->z);
  out->x = in->x / length;
  out->y = in->y / length;
  out->z = in->z / length;
}

Vector3 NormalizeVectorGuarded(float x, float y, float z) {
  const float squared = x * x + y * y + z * z;
  if (squared < SINGULAR_LIMIT) return Vector3{-1.0f, -1.0f, -1.0f};
  const float length = SqrtFloat(squared);
  return Vector3{x / length, y / length, z / length};
}

float VectorLengthGuarded(float x, float y, float z) {
  const float squared = x * x + y * y + z * z;
  if (squared < SINGULAR_LIMIT) return 0.0f;
  return SqrtFloat(squared);
}

void VectorTransform(Vector3* out, const Vector3* point, const Matrix4* matrix) {
  const float(*m)[4] = matrix->m;
  const Vector3 p = *point;
  out->x = p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0];
  out->y = p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1];
  out->z = p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2];
}

void VectorTransformDirection(Vector3* out, const Vector3* vector, const Matrix4* matrix) {
  const float(*m)[4] = matrix->m;
  const Vector3 v = *vector;
  out->x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0];
  out->y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1];
  out->z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2];
}

void VectorTransform4(Vector3* outXyz, float* outW, const Vector3* point, float inW, const Matrix4* matrix) {
  const float(*m)[4] = matrix->m;
  const Vector3 p = *point;
  const float w = p.x * m[0][3] + p.y * m[1][3] + p.z * m[2][3] + inW * m[3][3];
  outXyz->x = p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + inW * m[3][0];
  outXyz->y = p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + inW * m[3][1];
  outXyz->z = p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + inW * m[3][2];
  *outW = w;
}

int ClipRect(RECT* rect, const RECT* clip) {
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;

  LONG* const horizontal[2] = {&rect->left, &rect->right};
  for (LONG* edge : horizontal) {
    if (*edge < clip->left) *edge = clip->left;
    if (*edge > clip->right) *edge = clip->right;
  }
  LONG* const vertical[2] = {&rect->top, &rect->bottom};
  for (LONG* edge : vertical) {
    if (*edge < clip->top) *edge = clip->top;
    if (*edge > clip->bottom) *edge = clip->bottom;
  }
  return 0;
}
