// Transform matrices for 3-D drawing: world, view, projection, screen
// transform and draw-area adjustment, mirrored into the device transforms
// and the vertex-shader constants.
#ifndef VUVIDEREZA_TRANSFORM_H
#define VUVIDEREZA_TRANSFORM_H

#include "VuViderezaMath.h"

struct TransformState {
  Matrix4 world, view, projection, screen, adjustment;
  int combinedCurrent;  // the combined transform and view volume match the matrices
  int worldSet, viewSet, projectionSet;
};
extern TransformState Transforms;

int StoreWorldMatrix(const Matrix4* m);
int StoreViewMatrix(const Matrix4* m);
int StoreProjectionMatrix(const Matrix4* m);
int StoreScreenTransformMatrix(const Matrix4* m);
int StoreDrawAreaAdjustmentMatrix(const Matrix4* m);
// The combined projection of the stored matrices to the device (a held
// adjustment at the batch's flush). 0.
int SendStoredProjection();
void ApplyWorldMatrixToDevice(const Matrix4* m);
void ApplyViewMatrixToDevice(const Matrix4* m);
void ApplyProjectionMatrixToDevice(const Matrix4* m);
// Projection x screen transform x adjustment.
void GetCombinedProjection(Matrix4* out);
const Matrix4* GetViewMatrix();
// Identity for all five (at graphics start).
void ResetTransforms();

#endif  // VUVIDEREZA_TRANSFORM_H
