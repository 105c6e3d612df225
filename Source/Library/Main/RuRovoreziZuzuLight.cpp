// Light handles: records in a 4096-slot table of the graphics state block
// with handle values in the handle manager's bit layout (type 11). Before
// 3-D drawing the enabled lights are given to the device in the order
// directional, spot, point, once per change; device indices no longer used
// are switched off.
// Threads: main thread only.
// Platform: SetLight / LightEnable through the render-state cache.
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RuRovoreziZuzu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaRenderState.h"
#include "ZiDezaru.h"

namespace {

int MakeLightHandle(int check, int slot) { return ((check | LIGHT_TYPE_BITS) << 16) | slot; }

int SlotOf(int handle) {
  if (handle < 0 || ((handle >> 16) & 0xFC00) != LIGHT_TYPE_BITS) return -1;
  const int slot = handle & 0xFFFF;
  if (slot >= LIGHT_TABLE_SIZE) return -1;
  const LightRecord* record = SceneViewState.lights.slots[slot];
  if (record == nullptr || record->checkValue != ((handle >> 16) & 0x3FF)) return -1;
  return slot;
}

}  // namespace

LightRecord* GetLightRecord(int handle) {
  const int slot = SlotOf(handle);
  return slot < 0 ? nullptr : SceneViewState.lights.slots[slot];
}

int CreateLight() {
  LightTable& table = SceneViewState.lights;
  int slot = table.endIndex;
  if (slot >= LIGHT_TABLE_SIZE) {
    for (slot = 0; slot < LIGHT_TABLE_SIZE && table.slots[slot] != nullptr; slot++) {
    }
    if (slot == LIGHT_TABLE_SIZE) return -1;  // no room
  }
  LightRecord* record = static_cast<LightRecord*>(MEM_ALLOC_ZEROED(sizeof(LightRecord)));
  if (record == nullptr) {
    FatalErrorExit("ライト用のメモリの確保に失敗しました");
    return -1;
  }
  D3DLIGHT9& l = record->light;
  l.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  l.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
  l.Ambient = {0.33f, 0.33f, 0.33f, 0.33f};
  l.Range = 2000.0f;
  l.Falloff = 1.0f;
  l.Attenuation0 = 0.1f;
  l.Theta = 2.0f;
  l.Phi = 2.0f;
  record->deviceIndex = -1;
  record->checkValue = table.checkCounter;
  table.checkCounter = table.checkCounter + 1 >= LIGHT_CHECK_LIMIT ? 0 : table.checkCounter + 1;
  record->handle = MakeLightHandle(record->checkValue, slot);
  table.slots[slot] = record;
  table.count++;
  if (slot == table.endIndex) table.endIndex++;
  record->enabled = 1;
  record->changed = 1;
  table.changedFlag = 1;
  RenderState.statesChanged = 1;
  return record->handle;
}

int CreateDirectionalLight(float dx, float dy, float dz) {
  const float length = VectorLengthGuarded(dx, dy, dz);
  if (length == 0.0f) return -1;
  const int handle = CreateLight();
  if (handle < 0) return -1;
  LightRecord* record = GetLightRecord(handle);
  record->light.Type = D3DLIGHT_DIRECTIONAL;
  record->light.Direction = {dx / length, dy / length, dz / length};
  return handle;
}

int DeleteLightHandle(int handle) {
  const int slot = SlotOf(handle);
  if (slot < 0) return -1;
  LightTable& table = SceneViewState.lights;
  table.count--;
  MemFree(table.slots[slot]);
  table.slots[slot] = nullptr;
  if (slot == table.endIndex - 1) {
    if (table.count == 0) {
      table.endIndex = 0;
    } else {
      while (table.endIndex > 0 && table.slots[table.endIndex - 1] == nullptr) table.endIndex--;
    }
  }
  if (handle == table.standardLight) table.standardLight = 0;
  table.changedFlag = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int DeleteAllLightsExceptStandard() {
  LightTable& table = SceneViewState.lights;
  for (int slot = table.endIndex - 1; slot >= 0; slot--) {
    LightRecord* record = table.slots[slot];
    if (record != nullptr && record->handle != table.standardLight) DeleteLightHandle(record->handle);
  }
  return 0;
}

void DeleteAllLights() {
  DeleteAllLightsExceptStandard();
  if (SceneViewState.lights.standardLight != 0) DeleteLightHandle(SceneViewState.lights.standardLight);
  SceneViewState.lights.standardLight = 0;
}

int ApplyLightsToDevice() {
  LightTable& table = SceneViewState.lights;
  SetLightingEnableCached(SceneViewState.lightingOff ? 0 : 1);
  if (!table.changedFlag && !table.resendAll) return 0;
  int counter = 0;
  table.listedCount = 0;
  static const int order[3] = {D3DLIGHT_DIRECTIONAL, D3DLIGHT_SPOT, D3DLIGHT_POINT};
  for (int type : order) {
    for (int slot = 0; slot < table.endIndex; slot++) {
      LightRecord* record = table.slots[slot];
      if (record == nullptr || !record->enabled || record->light.Type != type) continue;
      if (table.listedCount < LIGHT_LIST_SIZE) table.listed[table.listedCount++] = slot;
      if (record->deviceIndex == counter && !record->changed && !table.resendAll) {
        counter++;
        continue;
      }
      record->deviceIndex = counter;
      record->changed = 0;
      SetDeviceLight(counter, 1, &record->light);
      counter++;
    }
  }
  for (int index = counter; index <= table.highestDevice; index++) SetLightEnableToDevice(index, 0);
  table.highestDevice = counter - 1;
  table.deviceCount = counter;
  table.changedFlag = 0;
  table.resendAll = 0;
  RenderState.statesChanged = 1;
  return 0;
}

int GetDeviceLightType(int index) {
  if (index < 0 || index >= DEVICE_LIGHT_COPIES || !DeviceLights[index].enabled) return 0;
  return DeviceLights[index].light.Type;
}
