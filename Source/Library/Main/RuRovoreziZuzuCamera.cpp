// Graphics state block: its reset, the camera (look-at view and its three
// angles), the projection modes, the viewport centre and the combined
// transform with the view volume.
// Threads: main thread only.
// Platform: none directly (matrices reach the device through the
// transform stores).
#include <math.h>
#include <string.h>

#include "RuRovoreziZuzu.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaTransform.h"

GraphicsStateBlock SceneViewState = [] {
  GraphicsStateBlock block;
  memset(&block, 0, sizeof block);
  block.lights.highestDevice = -1;
  return block;
}();

namespace {

const float HALF_PI = 1.5707964f;

void DrawScreenSize(float* width, float* height) {
  *width = static_cast<float>(Screen.drawWidth > 0 ? Screen.drawWidth : 640);
  *height = static_cast<float>(Screen.drawHeight > 0 ? Screen.drawHeight : 480);
}

void DeriveCameraAngles(const Matrix4& v, const Vector3& d) {
  const float rx = v.m[0][0], ry = v.m[1][0], rz = v.m[2][0];
  const float ux = v.m[0][1], uy = v.m[1][1], uz = v.m[2][1];
  const float dx = v.m[0][2], dy = v.m[1][2], dz = v.m[2][2];
  static_cast<void>(d);
  GraphicsStateBlock& g = SceneViewState;
  if (dx > -1e-8f && dx < 1e-8f && dz > -1e-8f && dz < 1e-8f) {
    g.horizontalRotation = 0.0f;
    if (dy >= 0.0f) {
      g.verticalRotation = -HALF_PI;
      g.twist = atan2f(-ux, -uz);
    } else {
      g.verticalRotation = HALF_PI;
      g.twist = atan2f(-ux, uz);
    }
    return;
  }
  const float h = uy >= 0.0f ? atan2f(dx, dz) : atan2f(-dx, -dz);
  g.horizontalRotation = h;
  float s = sinf(-h), c = cosf(-h);
  const float xPrime = c * rx + s * rz;
  const float zPrime = c * rz - s * rx;
  const float dzPrime = c * dz - s * dx;
  float vertical;
  if (uy >= 0.0f) {
    vertical = atan2f(-dy, dzPrime);
  } else if (dy <= 0.0f) {
    vertical = atan2f(-dzPrime, -dy) + HALF_PI;
  } else {
    vertical = -atan2f(-dzPrime, dy) - HALF_PI;
  }
  g.verticalRotation = vertical;
  s = sinf(-vertical);
  c = cosf(-vertical);
  g.twist = atan2f(c * ry - s * zPrime, xPrime);
}

}  // namespace

void InitializeLights() {
  GraphicsStateBlock& g = SceneViewState;
  const int lightingOff = g.lightingOff;
  LightTable* lights = new LightTable(g.lights);
  memset(&g, 0, sizeof g);
  g.lightingOff = lightingOff;
  g.lights = *lights;
  delete lights;
  if (GetLightRecord(g.lights.standardLight) == nullptr) {
    g.lights.standardLight = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
  }
  g.projectionMode = 0;
  g.zNear = 10.0f;
  g.zFar = 10000.0f;
  g.aspectScale = 1.0f;
  g.fieldOfView = 1.0471976f;
  g.orthoHeight = 1.0f;
  CreateIdentityMatrix(&g.userProjection);
  CreateIdentityMatrix(&g.viewCopy);
  g.materialWord = 1;
  g.material.Diffuse = {0.8f, 0.8f, 0.8f, 1.0f};
  g.material.Specular = {0.8f, 0.8f, 0.8f, 0.0f};
  g.material.Power = 20.0f;
  g.sizeScale = 1.0f;
  RenderState.statesChanged = 1;
  ResetGraphicsDrawState();
}

int SetCameraPositionAndTarget(float px, float py, float pz, float tx, float ty, float tz, float ux, float uy,
                               float uz) {
  GraphicsStateBlock& g = SceneViewState;
  g.position = {px, py, pz};
  g.target = {tx, ty, tz};
  Vector3 d, up = {ux, uy, uz}, side, upPrime;
  VectorSub(&d, &g.target, &g.position);
  if (VectorLengthGuarded(d.x, d.y, d.z) == 0.0f) d = {0.0f, 0.0f, 1.0f};  // no direction: look along +z
  VectorCross(&side, &d, &up);
  if (VectorLengthGuarded(side.x, side.y, side.z) == 0.0f) {
    // Up parallel to the view direction: take the axis least along it.
    const float ax = fabsf(d.x), ay = fabsf(d.y), az = fabsf(d.z);
    up = ay <= ax && ay <= az ? Vector3{0, 1, 0} : az <= ax ? Vector3{0, 0, 1} : Vector3{1, 0, 0};
    VectorCross(&side, &d, &up);
  }
  VectorCross(&upPrime, &side, &d);
  VectorNormalize(&upPrime, &upPrime);
  g.up = upPrime;
  Vector3 target = {g.position.x + d.x, g.position.y + d.y, g.position.z + d.z};
  Matrix4 view;
  CreateLookAtMatrix(&view, &g.position, &target, &upPrime);
  StoreViewMatrix(&view);
  g.viewCopy = view;
  DeriveCameraAngles(view, d);
  return 0;
}

int ApplyProjection() {
  GraphicsStateBlock& g = SceneViewState;
  float width, height;
  DrawScreenSize(&width, &height);
  const float aspect = g.projectionMode == 2 ? 1.0f : height / width * g.aspectScale;
  Matrix4 m;
  int result = 0;
  switch (g.projectionMode) {
    case 0: result = CreatePerspectiveMatrix(&m, g.fieldOfView, g.zNear, g.zFar, aspect); break;
    case 1: result = CreateOrthoMatrix(&m, g.orthoHeight, g.zNear, g.zFar, aspect); break;
    default: m = g.userProjection; break;
  }
  if (result != 0) return -1;  // degenerate ranges: the old projection stays
  return StoreProjectionMatrix(&m);
}

int SetProjectionCenter(float x, float y) {
  GraphicsStateBlock& g = SceneViewState;
  g.centreX = x;
  g.centreY = y;
  float width, height;
  DrawScreenSize(&width, &height);
  Matrix4 m;
  CreateViewportMatrix(&m, x, y, width * g.sizeScale, height * g.sizeScale);
  return StoreScreenTransformMatrix(&m);
}

int SetProjectionNearFar(float zNear, float zFar) {
  SceneViewState.zNear = zNear;
  SceneViewState.zFar = zFar;
  ApplyProjection();
  return 0;
}

int SetPerspectiveFov(float fov) {
  SceneViewState.projectionMode = 0;
  SceneViewState.fieldOfView = fov;
  ApplyProjection();
  return 0;
}

int SetOrthoProjection(float viewHeight) {
  SceneViewState.projectionMode = 1;
  SceneViewState.orthoHeight = viewHeight;
  ApplyProjection();
  return 0;
}

int SetProjectionMatrix(const float m[16]) {
  if (m == nullptr) return -1;
  SceneViewState.projectionMode = 2;
  memcpy(&SceneViewState.userProjection, m, sizeof SceneViewState.userProjection);
  ApplyProjection();
  return 0;
}

int SetProjectionAspectScale(float scale) {
  SceneViewState.aspectScale = scale;
  ApplyProjection();
  return 0;
}

void UpdateViewFrustum() {
  if (Transforms.combinedCurrent == 1) return;
  GraphicsStateBlock& g = SceneViewState;
  Matrix4 combined;
  MatrixMultiply(&combined, &Transforms.world, &Transforms.view);
  MatrixMultiply(&combined, &combined, &Transforms.projection);
  MatrixMultiply(&combined, &combined, &Transforms.screen);
  g.combined = combined;
  g.inverseValid = 0;
  Transforms.combinedCurrent = 1;
  float width, height;
  DrawScreenSize(&width, &height);
  const float xs[2] = {0.0f, width}, ys[2] = {0.0f, height};
  for (int i = 0; i < 8; i++)
    TransformByInverseCombined(&g.corners[i], xs[i & 1], ys[(i >> 1) & 1], (i >> 2) & 1 ? 1.0f : 0.0f);
  // Planes through three corners each: near, far, left, right, top, bottom.
  static const int faces[6][3] = {{0, 1, 2}, {4, 6, 5}, {0, 2, 4}, {1, 5, 3}, {0, 4, 1}, {2, 3, 6}};
  for (int f = 0; f < 6; f++) {
    Vector3 a, b, normal;
    VectorSub(&a, &g.corners[faces[f][1]], &g.corners[faces[f][0]]);
    VectorSub(&b, &g.corners[faces[f][2]], &g.corners[faces[f][0]]);
    VectorCross(&normal, &a, &b);
    const Vector3 n = NormalizeVectorGuarded(normal.x, normal.y, normal.z);
    CreatePlaneFromPointNormal(&g.planes[f], &g.corners[faces[f][0]], &n);
  }
}

Vector3* TransformByInverseCombined(Vector3* out, float x, float y, float z) {
  GraphicsStateBlock& g = SceneViewState;
  if (!g.inverseValid) {
    if (MatrixInverse(&g.inverse, &g.combined) != 0) CreateIdentityMatrix(&g.inverse);
    g.inverseValid = 1;
  }
  Vector3 point = {x, y, z}, result;
  float w;
  VectorTransform4(&result, &w, &point, 1.0f, &g.inverse);
  if (w != 0.0f) {
    result.x /= w;
    result.y /= w;
    result.z /= w;
  }
  *out = result;
  return out;
}

int SetUseZBuffer3D(int flag) {
  const int on = flag ? 1 : 0;
  DrawZSetting& z = CurrentDrawState.zSettings[1];
  if (z.enable == on && z.write == on) return 0;
  FlushVertexBatch(0);
  z.enable = on;
  z.write = on;
  RenderState.statesChanged = 1;
  return 0;
}

int SetUseLighting(int flag) {
  SceneViewState.lightingOff = !flag;
  SetLightingEnableCached(flag ? 1 : 0);
  SceneViewState.lights.changedFlag = 1;
  RenderState.statesChanged = 1;
  return 0;
}
