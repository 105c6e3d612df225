// Vector and matrix maths, projection builders and ClipRect.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "VuViderezaMath.h"

namespace {

Matrix4 MakeMatrix(const float (&v)[16]) {
  Matrix4 m;
  memcpy(m.m, v, sizeof m.m);
  return m;
}

// Every element 1234.5, to see that a failing builder wrote nothing.
Matrix4 Sentinel() {
  Matrix4 m;
  for (auto& row : m.m)
    for (float& e : row) e = 1234.5f;
  return m;
}

bool SameBits(const Matrix4& a, const Matrix4& b) { return memcmp(&a, &b, sizeof a) == 0; }

void ExpectNear(const Matrix4& expected, const Matrix4& actual, float tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(expected.m[r][c], actual.m[r][c], tolerance) << "element " << r << "," << c;
}

void ExpectVectorNear(float x, float y, float z, const Vector3& v, float tolerance = 1e-5f) {
  EXPECT_NEAR(x, v.x, tolerance);
  EXPECT_NEAR(y, v.y, tolerance);
  EXPECT_NEAR(z, v.z, tolerance);
}

Matrix4 Identity() {
  Matrix4 m;
  CreateIdentityMatrix(&m);
  return m;
}

// A general, well-conditioned matrix: rotation, scale and translation mixed.
const Matrix4 kGeneral = MakeMatrix(
    {2.0f, 0.5f, -1.0f, 0.0f, 0.25f, 3.0f, 0.75f, 0.0f, -0.5f, 1.0f, 1.5f, 0.0f, 10.0f, -20.0f, 5.0f, 1.0f});
// Not affine: the last column is used too.
const Matrix4 kProjective = MakeMatrix(
    {1.0f, 2.0f, 0.0f, 1.0f, 0.0f, 1.0f, 3.0f, -1.0f, 4.0f, 0.0f, 1.0f, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f});

}  // namespace

// ---------------------------------------------------------------- ClipRect

struct ClipCase {
  RECT in;
  RECT clip;
  RECT expected;
};

class ClipRectTest : public ::testing::TestWithParam<ClipCase> {};

TEST_P(ClipRectTest, ClipsAndOrders) {
  const ClipCase& c = GetParam();
  RECT r = c.in;
  EXPECT_EQ(0, ClipRect(&r, &c.clip));
  EXPECT_EQ(c.expected.left, r.left);
  EXPECT_EQ(c.expected.top, r.top);
  EXPECT_EQ(c.expected.right, r.right);
  EXPECT_EQ(c.expected.bottom, r.bottom);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClipRectTest,
                         ::testing::Values(
                             // reversed horizontally: becomes empty at its left edge
                             ClipCase{{10, 10, 5, 20}, {0, 0, 100, 100}, {10, 10, 10, 20}},
                             // larger than the clip on three sides
                             ClipCase{{-5, -5, 200, 50}, {0, 0, 100, 100}, {0, 0, 100, 50}},
                             // wholly to the right: collapses onto the right border
                             ClipCase{{150, 10, 160, 20}, {0, 0, 100, 100}, {100, 10, 100, 20}},
                             // wholly inside: unchanged
                             ClipCase{{10, 20, 30, 40}, {0, 0, 100, 100}, {10, 20, 30, 40}},
                             // reversed vertically
                             ClipCase{{10, 50, 20, 30}, {0, 0, 100, 100}, {10, 50, 20, 50}},
                             // wholly above and to the left: collapses onto the top-left corner
                             ClipCase{{-50, -40, -10, -5}, {0, 0, 100, 100}, {0, 0, 0, 0}},
                             // wholly below
                             ClipCase{{10, 300, 20, 400}, {0, 0, 100, 100}, {10, 100, 20, 100}},
                             // clip away from the origin
                             ClipCase{{0, 0, 640, 480}, {20, 10, 100, 50}, {20, 10, 100, 50}},
                             // an empty clip gives an empty result
                             ClipCase{{0, 0, 640, 480}, {30, 30, 30, 30}, {30, 30, 30, 30}}));

// ----------------------------------------------------------------- matrices

TEST(MatrixTest, IdentityAndMultiplyByIdentity) {
  Matrix4 m = Sentinel();
  EXPECT_EQ(0, CreateIdentityMatrix(&m));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(r == c ? 1.0f : 0.0f, m.m[r][c]);

  Matrix4 out;
  const Matrix4 id = Identity();
  EXPECT_EQ(0, MatrixMultiply(&out, &kGeneral, &id));
  EXPECT_TRUE(SameBits(kGeneral, out));
  EXPECT_EQ(0, MatrixMultiply(&out, &id, &kGeneral));
  EXPECT_TRUE(SameBits(kGeneral, out));
}

TEST(MatrixTest, MultiplyIsRowTimesColumn) {
  const Matrix4 a = MakeMatrix({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const Matrix4 b = MakeMatrix({17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32});
  const Matrix4 expected = MakeMatrix(
      {250, 260, 270, 280, 618, 644, 670, 696, 986, 1028, 1070, 1112, 1354, 1412, 1470, 1528});
  Matrix4 out;
  EXPECT_EQ(0, MatrixMultiply(&out, &a, &b));
  EXPECT_TRUE(SameBits(expected, out));
}

TEST(MatrixTest, MultiplyIntoAnOperandGivesTheSameResult) {
  Matrix4 separate;
  MatrixMultiply(&separate, &kGeneral, &kProjective);

  Matrix4 a = kGeneral;
  MatrixMultiply(&a, &a, &kProjective);
  EXPECT_TRUE(SameBits(separate, a));

  Matrix4 b = kProjective;
  MatrixMultiply(&b, &kGeneral, &b);
  EXPECT_TRUE(SameBits(separate, b));

  Matrix4 square;
  MatrixMultiply(&square, &kGeneral, &kGeneral);
  Matrix4 both = kGeneral;
  MatrixMultiply(&both, &both, &both);
  EXPECT_TRUE(SameBits(square, both));
}

TEST(MatrixTest, MultiplyWithNullOutComputesNothing) { EXPECT_EQ(0, MatrixMultiply(nullptr, &kGeneral, &kProjective)); }

TEST(MatrixTest, TransposeSwapsRowsAndColumnsAlsoInPlace) {
  Matrix4 t;
  MatrixTranspose(&t, &kProjective);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(kProjective.m[c][r], t.m[r][c]);
  Matrix4 inPlace = kProjective;
  MatrixTranspose(&inPlace, &inPlace);
  EXPECT_TRUE(SameBits(t, inPlace));
}

TEST(MatrixTest, InverseTimesOriginalIsIdentity) {
  for (const Matrix4* m : {&kGeneral, &kProjective}) {
    Matrix4 inverse = Sentinel();
    ASSERT_EQ(0, MatrixInverse(&inverse, m));
    Matrix4 product;
    MatrixMultiply(&product, &inverse, m);
    ExpectNear(Identity(), product, 1e-5f);
    MatrixMultiply(&product, m, &inverse);
    ExpectNear(Identity(), product, 1e-5f);
  }
}

TEST(MatrixTest, InverseOfKnownMatrices) {
  // Scale 2, 4, 0.5 and translation (3, -6, 1): the inverse undoes both.
  const Matrix4 m = MakeMatrix({2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0.5f, 0, 3, -6, 1, 1});
  const Matrix4 expected = MakeMatrix({0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 2, 0, -1.5f, 1.5f, -2, 1});
  Matrix4 inverse;
  ASSERT_EQ(0, MatrixInverse(&inverse, &m));
  ExpectNear(expected, inverse, 1e-6f);

  // In place.
  Matrix4 inPlace = m;
  ASSERT_EQ(0, MatrixInverse(&inPlace, &inPlace));
  EXPECT_TRUE(SameBits(inverse, inPlace));
}

TEST(MatrixTest, InverseOfSingularMatrixFailsAndLeavesOutput) {
  const Matrix4 zeroRow = MakeMatrix({1, 2, 3, 4, 0, 0, 0, 0, 5, 6, 7, 8, 9, 1, 2, 3});
  const Matrix4 equalRows = MakeMatrix({1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3});
  // Determinant 1e-8: below the limit although no row is zero.
  const Matrix4 tiny = MakeMatrix({1e-2f, 0, 0, 0, 0, 1e-2f, 0, 0, 0, 0, 1e-2f, 0, 0, 0, 0, 1e-2f});
  const Matrix4 zero = {};
  for (const Matrix4* m : {&zeroRow, &equalRows, &tiny, &zero}) {
    Matrix4 out = Sentinel();
    EXPECT_EQ(-1, MatrixInverse(&out, m));
    EXPECT_TRUE(SameBits(Sentinel(), out));
  }
  // Just above the limit (determinant 1e-6) still inverts.
  const Matrix4 small = MakeMatrix({1e-1f, 0, 0, 0, 0, 1e-1f, 0, 0, 0, 0, 1e-2f, 0, 0, 0, 0, 1e-2f});
  Matrix4 out;
  EXPECT_EQ(0, MatrixInverse(&out, &small));
  EXPECT_NEAR(100.0f, out.m[3][3], 1e-3f);
}

TEST(MatrixTest, ViewportMatrix) {
  Matrix4 m = Sentinel();
  CreateViewportMatrix(&m, 480.0f, 360.0f, 960.0f, 720.0f);
  const Matrix4 expected = MakeMatrix({480, 0, 0, 0, 0, -360, 0, 0, 0, 0, 1, 0, 480, 360, 0, 1});
  EXPECT_TRUE(SameBits(expected, m));

  // Clip space corners land on the screen corners.
  Vector3 p = {-1.0f, 1.0f, 0.5f};
  VectorTransform(&p, &p, &m);
  ExpectVectorNear(0.0f, 0.0f, 0.5f, p);
  p = Vector3{1.0f, -1.0f, 0.0f};
  VectorTransform(&p, &p, &m);
  ExpectVectorNear(960.0f, 720.0f, 0.0f, p);
}

// -------------------------------------------------------------- projections

class ProjectionTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProjectionScreenSize(0, 0); }
  void TearDown() override { SetProjectionScreenSize(0, 0); }
};

TEST_F(ProjectionTest, PerspectiveElements) {
  const float fov = 3.14159265f / 2.0f;  // c = cot(45 degrees) = 1
  Matrix4 m = Sentinel();
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 101.0f, 0.5f));
  const Matrix4 expected = MakeMatrix({0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0});
  ExpectNear(expected, m, 1e-5f);

  // The near plane maps to depth 0, the far plane to 1.
  float w;
  Vector3 p = {0.0f, 0.0f, 1.0f};
  VectorTransform4(&p, &w, &p, 1.0f, &m);
  EXPECT_NEAR(0.0f, p.z / w, 1e-5f);
  p = Vector3{0.0f, 0.0f, 101.0f};
  VectorTransform4(&p, &w, &p, 1.0f, &m);
  EXPECT_NEAR(1.0f, p.z / w, 1e-5f);
}

TEST_F(ProjectionTest, NegativeAspectTakesTheScreenSize) {
  const float fov = 1.0f;
  Matrix4 m;

  // Before any screen size is stored.
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 100.0f, -1.0f));
  EXPECT_FLOAT_EQ(0.75f * m.m[1][1], m.m[0][0]);
  ASSERT_EQ(0, CreateOrthoMatrix(&m, 10.0f, 1.0f, 100.0f, -1.0f));
  EXPECT_FLOAT_EQ(0.75f * m.m[1][1], m.m[0][0]);

  SetProjectionScreenSize(960, 720);
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 100.0f, -1.0f));
  EXPECT_FLOAT_EQ(0.75f * m.m[1][1], m.m[0][0]);

  SetProjectionScreenSize(640, 320);
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 100.0f, -1.0f));
  EXPECT_FLOAT_EQ(0.5f * m.m[1][1], m.m[0][0]);
  ASSERT_EQ(0, CreateOrthoMatrix(&m, 10.0f, 1.0f, 100.0f, -2.0f));
  EXPECT_FLOAT_EQ(0.5f * m.m[1][1], m.m[0][0]);

  // Only one side known: the fixed default.
  SetProjectionScreenSize(640, 0);
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 100.0f, -1.0f));
  EXPECT_FLOAT_EQ(0.75f * m.m[1][1], m.m[0][0]);

  // Aspect 0 is taken as it is.
  SetProjectionScreenSize(960, 720);
  ASSERT_EQ(0, CreatePerspectiveMatrix(&m, fov, 1.0f, 100.0f, 0.0f));
  EXPECT_EQ(0.0f, m.m[0][0]);
  EXPECT_GT(m.m[1][1], 0.0f);
  ASSERT_EQ(0, CreateOrthoMatrix(&m, 10.0f, 1.0f, 100.0f, 0.0f));
  EXPECT_EQ(0.0f, m.m[0][0]);
}

TEST_F(ProjectionTest, DegenerateRangesFailAndLeaveOutput) {
  Matrix4 m = Sentinel();
  EXPECT_EQ(-1, CreatePerspectiveMatrix(&m, 1.0f, 10.0f, 10.0f, 0.75f));
  EXPECT_EQ(-1, CreatePerspectiveMatrix(&m, 1.0f, 10.0f, 10.00005f, 0.75f));
  EXPECT_EQ(-1, CreatePerspectiveMatrix(&m, 0.0f, 1.0f, 100.0f, 0.75f));  // sin(fov / 2) = 0
  EXPECT_EQ(-1, CreatePerspectiveMatrix(&m, 1e-4f, 1.0f, 100.0f, -1.0f));
  EXPECT_EQ(-1, CreateOrthoMatrix(&m, 10.0f, 5.0f, 5.0f, 0.75f));
  EXPECT_EQ(-1, CreateOrthoMatrix(&m, 10.0f, 5.0f, 5.00005f, -1.0f));
  EXPECT_EQ(-1, CreateOrthoMatrix(&m, 0.0f, 1.0f, 100.0f, 0.75f));  // zero view height
  EXPECT_TRUE(SameBits(Sentinel(), m));
}

TEST_F(ProjectionTest, OrthoElements) {
  Matrix4 m = Sentinel();
  ASSERT_EQ(0, CreateOrthoMatrix(&m, 720.0f, 10.0f, 110.0f, 0.75f));
  const Matrix4 expected = MakeMatrix(
      {2.0f * 0.75f / 720.0f, 0, 0, 0, 0, 2.0f / 720.0f, 0, 0, 0, 0, 0.01f, 0, 0, 0, -0.1f, 1});
  ExpectNear(expected, m, 1e-7f);

  // Depth runs 0 at near to 1 at far; a point at half the height is on the edge.
  Vector3 p = {0.0f, 360.0f, 10.0f};
  VectorTransform(&p, &p, &m);
  ExpectVectorNear(0.0f, 1.0f, 0.0f, p);
  p = Vector3{480.0f, 0.0f, 110.0f};
  VectorTransform(&p, &p, &m);
  ExpectVectorNear(1.0f, 0.0f, 1.0f, p);
}

TEST(LookAtTest, AlongTheZAxis) {
  const Vector3 eye = {0.0f, 0.0f, -5.0f}, target = {0.0f, 0.0f, 0.0f}, up = {0.0f, 1.0f, 0.0f};
  Matrix4 m;
  CreateLookAtMatrix(&m, &eye, &target, &up);
  const Matrix4 expected = MakeMatrix({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1});
  ExpectNear(expected, m, 1e-6f);
}

TEST(LookAtTest, FromTheSideIsLeftHanded) {
  // Looking down -x with y up: +z in the world is to the right.
  const Vector3 eye = {10.0f, 0.0f, 0.0f}, target = {0.0f, 0.0f, 0.0f}, up = {0.0f, 1.0f, 0.0f};
  Matrix4 m;
  CreateLookAtMatrix(&m, &eye, &target, &up);
  const Matrix4 expected = MakeMatrix({0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 10, 1});
  ExpectNear(expected, m, 1e-6f);

  Vector3 p = {10.0f, 0.0f, 1.0f};
  VectorTransform(&p, &p, &m);
  ExpectVectorNear(1.0f, 0.0f, 0.0f, p);
}

TEST(LookAtTest, GeneralCaseIsARigidView) {
  const Vector3 eye = {3.0f, 4.0f, -2.0f}, target = {-1.0f, 2.0f, 6.0f}, up = {0.0f, 1.0f, 0.0f};
  Matrix4 m;
  CreateLookAtMatrix(&m, &eye, &target, &up);

  Vector3 p;
  VectorTransform(&p, &eye, &m);
  ExpectVectorNear(0.0f, 0.0f, 0.0f, p);
  Vector3 d;
  VectorSub(&d, &target, &eye);
  VectorTransform(&p, &target, &m);
  ExpectVectorNear(0.0f, 0.0f, sqrtf(VectorDot(&d, &d)), p, 1e-4f);

  // The upper 3 x 3 part is orthonormal.
  Matrix4 t, product;
  MatrixTranspose(&t, &m);
  t.m[0][3] = t.m[1][3] = t.m[2][3] = 0.0f;
  t.m[3][0] = t.m[3][1] = t.m[3][2] = 0.0f;
  Matrix4 rotation = m;
  rotation.m[3][0] = rotation.m[3][1] = rotation.m[3][2] = 0.0f;
  MatrixMultiply(&product, &rotation, &t);
  ExpectNear(Identity(), product, 1e-6f);

  // Up stays up: the view's y axis has a positive world y.
  EXPECT_GT(m.m[1][1], 0.0f);
}

// ----------------------------------------------------------------- vectors

TEST(VectorTest, SubDotCross) {
  const Vector3 a = {1.0f, 2.0f, 3.0f}, b = {4.0f, -5.0f, 6.0f};
  Vector3 r;
  VectorSub(&r, &a, &b);
  ExpectVectorNear(-3.0f, 7.0f, -3.0f, r, 0.0f);
  EXPECT_EQ(12.0f, VectorDot(&a, &b));
  VectorCross(&r, &a, &b);
  ExpectVectorNear(27.0f, 6.0f, -13.0f, r, 0.0f);

  const Vector3 x = {1.0f, 0.0f, 0.0f}, y = {0.0f, 1.0f, 0.0f};
  VectorCross(&r, &x, &y);
  ExpectVectorNear(0.0f, 0.0f, 1.0f, r, 0.0f);

  // Into an operand.
  Vector3 inPlace = a;
  VectorCross(&inPlace, &inPlace, &b);
  ExpectVectorNear(27.0f, 6.0f, -13.0f, inPlace, 0.0f);
}

TEST(VectorTest, Normalize) {
  const Vector3 v = {3.0f, 0.0f, -4.0f};
  Vector3 n;
  VectorNormalize(&n, &v);
  ExpectVectorNear(0.6f, 0.0f, -0.8f, n, 1e-6f);

  ExpectVectorNear(0.6f, 0.0f, -0.8f, NormalizeVectorGuarded(3.0f, 0.0f, -4.0f), 1e-6f);
  EXPECT_EQ(5.0f, VectorLengthGuarded(3.0f, 0.0f, -4.0f));
}

TEST(VectorTest, GuardedFormsOfTinyVectors) {
  ExpectVectorNear(-1.0f, -1.0f, -1.0f, NormalizeVectorGuarded(0.0f, 0.0f, 0.0f), 0.0f);
  ExpectVectorNear(-1.0f, -1.0f, -1.0f, NormalizeVectorGuarded(0.0001f, 0.0f, 0.0f), 0.0f);
  EXPECT_EQ(0.0f, VectorLengthGuarded(0.0001f, 0.0f, 0.0f));
  EXPECT_EQ(0.0f, VectorLengthGuarded(0.0f, 0.0f, 0.0f));
  // Squared length 1e-6 is above the limit.
  EXPECT_NEAR(0.001f, VectorLengthGuarded(0.0f, 0.001f, 0.0f), 1e-9f);
  ExpectVectorNear(0.0f, 0.0f, 1.0f, NormalizeVectorGuarded(0.0f, 0.0f, 0.001f), 1e-6f);
}

TEST(VectorTest, Transforms) {
  Vector3 r;
  const Vector3 p = {1.0f, 2.0f, 3.0f};

  // kGeneral's rows times (1, 2, 3) plus its translation row.
  VectorTransform(&r, &p, &kGeneral);
  ExpectVectorNear(2.0f + 0.5f - 1.5f + 10.0f, 0.5f + 6.0f + 3.0f - 20.0f, -1.0f + 1.5f + 4.5f + 5.0f, r);

  VectorTransformDirection(&r, &p, &kGeneral);
  ExpectVectorNear(1.0f, 9.5f, 5.0f, r);

  // The full row vector (x, y, z, w) with every column of a projective matrix.
  float w = 0.0f;
  VectorTransform4(&r, &w, &p, 2.0f, &kProjective);
  ExpectVectorNear(1.0f + 12.0f + 2.0f, 2.0f + 2.0f + 2.0f, 6.0f + 3.0f + 2.0f, r);
  EXPECT_NEAR(1.0f - 2.0f + 6.0f + 2.0f, w, 1e-6f);

  // Output may be the input.
  Vector3 inPlace = p;
  VectorTransform4(&inPlace, &w, &inPlace, 2.0f, &kProjective);
  ExpectVectorNear(15.0f, 6.0f, 11.0f, inPlace);
  inPlace = p;
  VectorTransformDirection(&inPlace, &inPlace, &kGeneral);
  ExpectVectorNear(1.0f, 9.5f, 5.0f, inPlace);

  // A point taken through a matrix and its inverse comes back.
  Matrix4 inverse;
  ASSERT_EQ(0, MatrixInverse(&inverse, &kGeneral));
  VectorTransform(&r, &p, &kGeneral);
  VectorTransform(&r, &r, &inverse);
  ExpectVectorNear(1.0f, 2.0f, 3.0f, r, 1e-4f);
}

TEST(VectorTest, PlaneFromPointAndNormal) {
  const Vector3 point = {0.0f, 5.0f, 0.0f}, normal = {0.0f, 2.0f, 0.0f};
  Plane plane;
  CreatePlaneFromPointNormal(&plane, &point, &normal);
  EXPECT_EQ(0.0f, plane.a);
  EXPECT_EQ(1.0f, plane.b);
  EXPECT_EQ(0.0f, plane.c);
  EXPECT_EQ(-5.0f, plane.d);

  // A tilted plane: the point lies on it, and the normal is unit length.
  const Vector3 q = {1.0f, 2.0f, 3.0f}, n = {1.0f, 1.0f, 1.0f};
  CreatePlaneFromPointNormal(&plane, &q, &n);
  EXPECT_NEAR(1.0f, plane.a * plane.a + plane.b * plane.b + plane.c * plane.c, 1e-6f);
  EXPECT_NEAR(0.0f, plane.a * q.x + plane.b * q.y + plane.c * q.z + plane.d, 1e-5f);
  EXPECT_NEAR(-6.0f / sqrtf(3.0f), plane.d, 1e-5f);
}
