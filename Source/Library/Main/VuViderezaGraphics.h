// Graphics-system state beyond the device layer's: shaders usable, filter
// exactness, the base shaders, the vertex declarations and the brightness
// volume texture; the start and end steps that make and release them.
#ifndef VUVIDEREZA_GRAPHICS_H
#define VUVIDEREZA_GRAPHICS_H

#include <windows.h>
#include <d3d9.h>
#include "RiDov.h"

enum {
  BASE_NONETEX_SHADERS = 14,
  BASE_BLEND_SHADERS = 224,
  MODEL_VERTEX_DECLARATIONS = 54,
  FIXED_VERTEX_DECLARATIONS = 8,
};

struct GraphicsSystemState {
  int shadersUsable;
  int filtersExact;
  IDirect3DPixelShader9* nonetexShaders[BASE_NONETEX_SHADERS];
  IDirect3DPixelShader9* blendShaders[BASE_BLEND_SHADERS];
  IDirect3DPixelShader9* maskBlendShader;
  IDirect3DVertexShader9* checkVertexShader;  // the model device check
  IDirect3DPixelShader9* checkPixelShader;
  IDirect3DVertexDeclaration9* modelDeclarations[MODEL_VERTEX_DECLARATIONS];
  IDirect3DVertexDeclaration9* fixedDeclarations[FIXED_VERTEX_DECLARATIONS];
  IDirect3DVolumeTexture9* brightnessTexture;
};
extern GraphicsSystemState GraphicsSystem;

void CreateBaseShaders();
void ReleaseBaseShaders();
int AreShadersUsable();
void CreateVertexDeclarations();
void ReleaseVertexDeclarations();
int CreateBrightnessMaxVolumeTexture();
void ReleaseBrightnessMaxVolumeTexture();
void InitializeDeviceDrawState();
// Sends the whole render-state cache and the constants again.
int ReapplyDeviceStates();

// Filter accuracy check: the invert filter on four diagonal pixels; 1 when
// all twelve components come back as their inverse within 1.
int RunFilterAccuracyCheck();
int CountInverseMatches(const unsigned char set[4][3], const unsigned char read[4][3]);

// Full-value colour of the same hue and saturation; r, g, b in and out.
void MaxBrightnessColor(int r, int g, int b, int* outR, int* outG, int* outB);

// Vertex declaration layouts (elements end with D3DDECL_END).
// Model declaration number (family x 3 + type) x 9 + k; fixed 0 and 1.
int GetModelVertexDeclarationElements(int number, D3DVERTEXELEMENT9* elements, int* stride);
int GetFixedVertexDeclarationElements(int number, D3DVERTEXELEMENT9* elements);

// Smallest power of two not below size (1 below 2).
int DepthBufferSideFor(int size);

#endif  // VUVIDEREZA_GRAPHICS_H
