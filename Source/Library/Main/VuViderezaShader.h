// Shader-constant cache (four layered constant sets over the device's
// constant registers, with the device image kept for a re-send) and shader
// handles (type 12) with the user shader drawing state.
#ifndef VUVIDEREZA_SHADER_H
#define VUVIDEREZA_SHADER_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include "VeRavoro.h"
#include "RiDov.h"

enum {
  SHADER_CONST_TYPES = 6,  // vertex float, int, bool; pixel float, int, bool
  SHADER_CONST_SETS = 4,
  SHADER_CONST_MAX_REGISTERS = 256,
  SHADER_CONST_MAX_RANGES = 256,
  SHADER_CONST_NO_SUPPLIER = 255,
};

// Sorted, disjoint half-open register ranges.
struct ShaderConstRangeList {
  uint16_t ranges[SHADER_CONST_MAX_RANGES][2];
  uint32_t count;
};

struct ShaderConstBlock {
  ShaderConstRangeList used;
  uint32_t registerCount;
  uint32_t bytesPerRegister;
  uint8_t data[4096];
};

struct ShaderConstantCache {
  uint32_t setActive[SHADER_CONST_SETS];
  uint32_t activeMask;
  ShaderConstBlock sets[SHADER_CONST_TYPES * SHADER_CONST_SETS];  // type x 4 + set
  uint8_t usedMaps[SHADER_CONST_TYPES * SHADER_CONST_SETS][SHADER_CONST_MAX_REGISTERS];
  ShaderConstBlock device[SHADER_CONST_TYPES];
  uint8_t supplier[SHADER_CONST_TYPES][SHADER_CONST_MAX_REGISTERS];
};

// The library's cache.
extern ShaderConstantCache ShaderConstants;

// Range-list operations; 0, or -1 when the list would exceed its room.
int AddShaderConstRange(ShaderConstRangeList* list, int start, int end);
int RemoveShaderConstRange(ShaderConstRangeList* list, int start, int end);

int InitShaderConstantCache(ShaderConstantCache* cache);
int SetShaderConstantCached(ShaderConstantCache* cache, int type, int set, int start, const void* data, int count,
                            int record);
int ReleaseShaderConstantRange(ShaderConstantCache* cache, int type, int set, int start, int count);
int SetShaderConstantSetMask(ShaderConstantCache* cache, int mask);
// Sends count registers from start and copies them into the device image.
int ApplyShaderConstants(const void* data, int start, ShaderConstantCache* cache, int type, int count);
// Sends every register of every type from the device images.
int ReapplyAllShaderConstants(ShaderConstantCache* cache);

// Shader handles.
struct ShaderHandleRecord {
  HandleRecordHeader header;
  uint32_t vertex;  // 1: vertex shader, 0: pixel shader
  void* code;
  IUnknown* shader;
  uint32_t constantCount;
  const void* constantInfo;
};

struct UserShaderDrawState {
  int vertexShader;
  int pixelShader;
  int textures[16];
};
extern UserShaderDrawState UserShaderDraw;

struct ShaderDrawSetup {
  int vertexShader;
  int pixelShader;
  int stageCount;
  int textures[16];
};

int CreateShaderFromCode(int handle, int vertex, const void* code, int size, int freeCode);
int CreateShaderHandleFromCode(int vertex, const void* code, int size, int freeCode, int async);
int ReleaseShaderHandleRecord(HandleRecordHeader* record);
int ApplyShaderDrawSetup(const ShaderDrawSetup* setup);
int CurrentShaderSetupToRecord(ShaderDrawSetup* setup, int n);
int SetDeviceVertexShaderFromHandle(int handle);
int SetDevicePixelShaderFromHandle(int handle);
// Device rebuild: every shader handle's object released (its code kept) /
// made again from the kept code. Both return 0.
int ReleaseAllShaderObjects();
int RecreateAllShaderObjects();

#endif  // VUVIDEREZA_SHADER_H
