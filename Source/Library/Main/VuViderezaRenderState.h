// Render-state cache: the last value sent of every device state the library
// changes; an unchanged value costs no device call and no batch flush.
#ifndef VUVIDEREZA_RENDER_STATE_H
#define VUVIDEREZA_RENDER_STATE_H

#include <windows.h>
#include <d3d9.h>
#include "RiDov.h"

enum {
  RENDER_SAMPLERS = 12,
  RENDER_STAGES = 12,
  TEXTURE_TRANSFORM_STAGES = 8,  // stages whose texture matrix is kept
  GRID_STRIP_MAX_INDICES = 1000,
};

struct SamplerCache {
  DWORD addressU, addressV, addressW;
  DWORD magFilter, minFilter, mipFilter;
  DWORD maxAnisotropy;
};

struct StageCache {
  DWORD texCoordIndex, resultArg, transformFlags;
  DWORD set;  // bits: 1 index, 2 result, 4 transform recorded
  DWORD reserved[2];
};

struct RenderStateCache {
  int reapplyAll;
  int statesChanged;
  int choosePixelShader;
  int textureChanged;
  int zEnable, zWriteEnable, zFunc, depthBias, fillMode, cullSetting, shadeMode, lighting;
  int specularEnable, diffuseMaterialSource, specularMaterialSource;
  int fogEnable, fogVertexMode;
  DWORD fogColor;
  float fogStart, fogEnd, fogDensity;
  float ambient[4];
  D3DMATERIAL9 material;
  SamplerCache samplers[RENDER_SAMPLERS];
  int filterMode;  // 0, 1, 2; 3: none sent yet
  int maxAnisotropy;
  StageCache stages[RENDER_STAGES];
  D3DMATRIX textureTransforms[TEXTURE_TRANSFORM_STAGES];  // last matrix given per stage
  D3DVIEWPORT9 viewport;
  RECT scissor;
  // Shader selection (never sent; chooses the base pixel shader).
  int blendMode, blendFlagA, blendFlagB;
  int alphaTestMode, alphaTestRef;
  int ignoreColor;
  int alphaFlag;
  int useColor;
  int blendTextureMode, blendTextureParam[2];
  int extraSelect;
  // Current objects.
  IDirect3DBaseTexture9* texture;
  IDirect3DBaseTexture9* blendTexture;
  float blendWidth, blendHeight, blendInvWidth, blendInvHeight;
  DWORD fvf;
  IDirect3DVertexShader9* vertexShader;
  IDirect3DPixelShader9* pixelShader;
  IDirect3DVertexDeclaration9* declaration;
  int furtherWords[3];
};
extern RenderStateCache RenderState;

// The lights last given to the device (indices 0-5), for the shader
// constants.
enum { DEVICE_LIGHT_COPIES = 6 };
struct DeviceLightCopy {
  D3DLIGHT9 light;
  int enabled;
};
extern DeviceLightCopy DeviceLights[DEVICE_LIGHT_COPIES];

// The 2-D batch flush every changing setter calls first (a test may count
// them through its own function).
extern int (*RenderStateBatchFlush)(int post);

// Magnification, minification and mip filters of sampling modes 0-2.
extern const DWORD SamplerFilterTable[3][3];

int InitDeviceRenderStates();
int SetSamplerFilterCached(int mode);
int SetMaxAnisotropyCached(int value);
int SetDrawBlendModeCached(int mode, int flagA, int flagB);
int SetIgnoreColorSelectCached(int value);
int SetAlphaTestCached(int mode, int ref);
int SetZEnableCached(int on);
int SetZWriteEnableCached(int on);
int SetZFuncCached(int func);
int SetDepthBiasCached(int bias);
int SetFillModeCached(int mode);
int SetDrawTexture(IDirect3DBaseTexture9* texture);
int SetDrawBlendTexture(IDirect3DBaseTexture9* texture, int width, int height);
int SetBlendTextureModeCached(int mode, int param0, int param1);
int SetDrawAlphaFlagCached(int flag);
int SetDrawUseColorCached(int flag);
int SetMaterialCached(const D3DMATERIAL9* material);
int SetSpecularEnableCached(int on);
int SetDiffuseMaterialSourceCached(int source);
int SetSpecularMaterialSourceCached(int source);
int SetCullModeCached(int setting);
int SetAmbientColor(DWORD argb);
int SetShadeModeCached(int mode);
int SetTextureAddressModeCached(int sampler, int u, int v, int w);
int SetTextureAddressUCached(int sampler, int mode);
int SetTextureAddressVCached(int sampler, int mode);
int SetTextureAddressWCached(int sampler, int mode);
int SetTextureTransformCached(int stage, const D3DMATRIX* matrix);  // stage -1: 0-3; null: off
// Stages 0-7: the transform flags and, where on, the kept matrix sent again.
int ReapplyTextureTransforms();
// Stages 0-11: the recorded texture-coordinate index (the stage number where
// none is recorded) sent again.
int ReapplyTexCoordIndices();
// The ambient colour as the ARGB word it was set from.
DWORD GetAmbientColorWord();
int SetFogEnableCached(int on);
int SetFogVertexModeCached(int mode);
int SetFogColorCached(DWORD color);
int SetFogStartEndCached(float start, float end);
int SetFogDensityCached(float density);
int DrawVertexGridStrip(const void* vertices, int width, int height);
int SetViewportCached(const D3DVIEWPORT9* viewport);
int SetViewportRect(int x1, int y1, int x2, int y2);
int SetScissorRectCached(const RECT* rect);
int SetExtraShaderSelectCached(int value);
int SetLightingEnableCached(int on);
int ApplyLightingEnable(int on);
void ResetTexCoordIndexCached();
int SetDeviceDialogBoxMode(int flag);
int SetDeviceLight(int index, int enable, const D3DLIGHT9* light);
int SetLightToDevice(int index, const D3DLIGHT9* light);
int SetLightEnableToDevice(int index, int enable);
// Sends the fog register (vertex float 10) from the cached fog values.
int ApplyFogShaderConstants();
// Ambient and light colour constants from the material and lights.
void ApplyLightShaderConstants();

#endif  // VUVIDEREZA_RENDER_STATE_H
