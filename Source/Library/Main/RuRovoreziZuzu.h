// Graphics state block: projection, viewport centre, camera, the combined
// transform with its view volume, the material and the light table
// (lights use the handle bit layout under type 11 in a table of their own).
#ifndef RUROVOREZIZUZU_H
#define RUROVOREZIZUZU_H

#include <windows.h>
#include <d3d9.h>

#include "VuViderezaMath.h"

enum {
  LIGHT_TABLE_SIZE = 4096,
  LIGHT_LIST_SIZE = 256,
  LIGHT_CHECK_LIMIT = 1023,
  LIGHT_TYPE_BITS = 0x2C00,
};

struct LightRecord {
  int checkValue;
  int handle;
  D3DLIGHT9 light;
  int deviceIndex;  // -1: none
  int enabled;
  int changed;
  int reserved[2];
};

struct LightTable {
  LightRecord* slots[LIGHT_TABLE_SIZE];
  int count;
  int endIndex;
  int checkCounter;
  int standardLight;
  int changedFlag;
  int resendAll;
  int deviceCount;      // device indices in use after the last apply
  int highestDevice;    // highest device index switched on so far (-1 none)
  int listed[LIGHT_LIST_SIZE];
  int listedCount;
};

struct GraphicsStateBlock {
  // Kept across a reset.
  int lightingOff;
  LightTable lights;
  // Projection.
  int projectionMode;  // 0 perspective, 1 orthographic, 2 user matrix
  float zNear, zFar, aspectScale, fieldOfView, orthoHeight;
  Matrix4 userProjection;
  // Viewport.
  float centreX, centreY, sizeScale;
  // Camera.
  Vector3 position, target, up;
  Matrix4 viewCopy;
  float verticalRotation, horizontalRotation, twist;
  // Combined transform and view volume.
  Matrix4 combined, inverse;
  int inverseValid;
  Vector3 corners[8];
  Plane planes[6];
  // Material.
  int materialWord;
  D3DMATERIAL9 material;
};
extern GraphicsStateBlock GraphState;

// Graphics state reset (camera, projection, material; the lights are kept,
// the standard light made when missing).
int InitializeLights();
int SetCameraPositionAndTarget(float px, float py, float pz, float tx, float ty, float tz, float ux, float uy,
                               float uz);
int SetProjectionCenter(float x, float y);
int SetProjectionNearFar(float zNear, float zFar);
int SetPerspectiveFov(float fov);
int SetOrthoProjection(float viewHeight);
int SetProjectionMatrix(const float m[16]);
int SetProjectionAspectScale(float scale);
int ApplyProjection();
int UpdateViewFrustum();
Vector3* TransformByInverseCombined(Vector3* out, float x, float y, float z);
int SetUseLighting(int flag);
// 3-D drawing (the second Z setting set) tests and writes the Z buffer.
int SetUseZBuffer3D(int flag);

// Lights.
int CreateLight();
int CreateDirectionalLight(float dx, float dy, float dz);
int DeleteLightHandle(int handle);
int DeleteAllLightsExceptStandard();
int ApplyLightsToDevice();
LightRecord* GetLightRecord(int handle);
// Type (0 none, 1 point, 2 spot, 3 directional) and enabled state of the
// light given to device index i (0 when none).
int GetDeviceLightType(int index);
// Deletes every light, the standard one too (graphics end).
int DeleteAllLights();

#endif  // RUROVOREZIZUZU_H
