// Vector and 4 x 4 matrix maths in the Direct3D convention: points are row
// vectors multiplied on the left (p' = p x M), the translation is row 3.
// Also the projection, view and viewport builders and the rectangle clip.
#ifndef VUVIDEREZA_MATH_H
#define VUVIDEREZA_MATH_H

#include <windows.h>
#include "RiDov.h"

// m[row][column]; rows are stored one after the other.
struct Matrix4 {
  float m[4][4];
};

// a x + b y + c z + d = 0
struct Plane {
  float a, b, c, d;
};

// Rectangles are Windows RECTs: right and bottom exclusive.

// Screen size behind the default aspect of the projection builders; 0 x 0
// until the device layer knows it.
void SetProjectionScreenSize(int width, int height);

int CreateIdentityMatrix(Matrix4* out);
// out = a x b; out may be a or b. A null out computes nothing.
int MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b);
void MatrixTranspose(Matrix4* out, const Matrix4* in);
// -1 with out untouched when the matrix is singular.
int MatrixInverse(Matrix4* out, const Matrix4* in);

void CreateViewportMatrix(Matrix4* out, float centreX, float centreY, float width, float height);
// Left-handed projections. aspect is height / width; a negative aspect takes
// the stored screen size (0.75 when none). -1 with out untouched when the
// ranges are degenerate.
int CreatePerspectiveMatrix(Matrix4* out, float fieldOfView, float zNear, float zFar, float aspect);
int CreateOrthoMatrix(Matrix4* out, float viewHeight, float zNear, float zFar, float aspect);
void CreateLookAtMatrix(Matrix4* out, const Vector3* eye, const Vector3* target, const Vector3* up);

void CreatePlaneFromPointNormal(Plane* out, const Vector3* point, const Vector3* normal);

void VectorSub(Vector3* out, const Vector3* a, const Vector3* b);
float VectorDot(const Vector3* a, const Vector3* b);
void VectorCross(Vector3* out, const Vector3* a, const Vector3* b);
void VectorNormalize(Vector3* out, const Vector3* in);
// (-1, -1, -1) for a vector too short to normalise.
Vector3 NormalizeVectorGuarded(float x, float y, float z);
// 0 for a vector too short to measure.
float VectorLengthGuarded(float x, float y, float z);

// out may be the input vector in all three.
void VectorTransform(Vector3* out, const Vector3* point, const Matrix4* matrix);
void VectorTransformDirection(Vector3* out, const Vector3* vector, const Matrix4* matrix);
void VectorTransform4(Vector3* outXyz, float* outW, const Vector3* point, float inW, const Matrix4* matrix);

// Orders the rectangle (a reversed one becomes empty) and clamps each edge
// into the clip rectangle; one lying outside collapses onto the clip's border.
int ClipRect(RECT* rect, const RECT* clip);

#endif  // VUVIDEREZA_MATH_H
