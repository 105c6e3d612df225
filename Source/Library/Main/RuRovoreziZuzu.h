// Graphics state block: projection, viewport centre, camera, the combined
// transform with its view volume, the material and the light table
// (lights use the handle bit layout under type 11 in a table of their own).
#ifndef RUROVOREZIZUZU_H
#define RUROVOREZIZUZU_H

#include <windows.h>
#include <d3d9.h>

#include "VuViderezaMath.h"
#include "RiDov.h"

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
  int deviceCount;    // device indices in use after the last apply
  int highestDevice;  // highest device index switched on so far (-1 none)
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
extern GraphicsStateBlock SceneViewState;

// Graphics state reset (camera, projection, material; the lights are kept,
// the standard light made when missing).
void InitializeLights();
int ApplyProjection();
void UpdateViewFrustum();

// Lights.
int CreateLight();
int ApplyLightsToDevice();
LightRecord* GetLightRecord(int handle);
// Type (0 none, 1 point, 2 spot, 3 directional) and enabled state of the
// light given to device index i (0 when none).
int GetDeviceLightType(int index);
// Deletes every light, the standard one too (graphics end).
void DeleteAllLights();

#endif  // RUROVOREZIZUZU_H
