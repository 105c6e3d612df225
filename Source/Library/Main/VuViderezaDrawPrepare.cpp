// Preparing the device for a draw: the per-draw flag word against the
// render-state cache (ApplyDrawStateForTexture), the blend-table row, the
// vertex kind, the alpha test and the drawing pixel shader or, without
// shaders, the fixed-function texture-stage program; the user texture
// set-up and the render-target cache.
// Texture coordinates: a kind-1 vertex carries the image in set 0; a kind-2
// vertex the blend graphic in set 0 and the image in set 1. Shaders sample
// the image at s0 and the blend graphic at s1.
// Threads: main thread only.
// Platform: IDirect3DDevice9 render states, texture-stage states,
// SetTexture, SetPixelShader, SetRenderTarget, CreateTexture (the white
// texture) through the device call table and the render-state cache.
#include <string.h>

#include "RuRovoreziZuzu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShadowMap.h"
#include "VeRavoro.h"

DrawPreparation DrawPrep = [] {
  DrawPreparation p = {};
  p.shaderIndex = -1;
  return p;
}();

// Device factors: 1 ZERO, 2 ONE, 3 SRCCOLOR, 5 SRCALPHA, 6 INVSRCALPHA,
// 10 INVDESTCOLOR; 0 keeps the device's. Operations 1 ADD, 3 REVSUBTRACT.
const BlendTableRow BlendTable[BLEND_TABLE_ROWS] = {
    {0, 0, 0, 1, 0}, {6, 5, 0, 1, 1}, {2, 5, 0, 1, 1}, {1, 10, 0, 1, 1}, {3, 1, 0, 1, 1}, {2, 5, 0, 1, 1},
    {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}, {2, 1, 0, 1, 1}, {1, 10, 0, 1, 1}, {6, 5, 2, 1, 1}, {3, 1, 1, 1, 1},
    {6, 5, 3, 1, 1}, {2, 5, 3, 1, 1}, {1, 2, 0, 1, 1}, {6, 2, 0, 1, 1},  {2, 5, 0, 3, 1}, {6, 2, 4, 1, 1},
    {2, 2, 4, 1, 1}, {2, 2, 4, 3, 1}, {6, 2, 5, 1, 1}, {6, 2, 6, 1, 1},  {2, 2, 6, 1, 1},
};

namespace {

enum {
  RENDER_TARGET_SLOTS = 16,
  ROW_DESTINATION = 14,
  ROW_ALPHA = 1,
  ROW_SUBTRACT = 16,
  MAX_PROGRAM_STAGES = 4,
  FULL_PARAM = 255,        // a blend parameter at full strength
  ALPHA_CHANNEL_REF = 16,  // alpha test reference of an image with an alpha channel
  SHADER_VARIANTS = 7,     // shader variants per blend kind in the shader table
  // The blend graphic's threshold (kind 1) with a soft range: the ramp's
  // span and alpha scale by range width.
  THRESHOLD_NARROW_RANGE = 65,
  THRESHOLD_MID_RANGE = 129,
  THRESHOLD_NARROW_SPAN = 1280,
  THRESHOLD_MID_SPAN = 768,
  THRESHOLD_WIDE_SPAN = 512,
  THRESHOLD_NARROW_SCALE = 64,
  THRESHOLD_MID_SCALE = 128,
  THRESHOLD_WIDE_SCALE = 255,
  THRESHOLD_RAMP = 256,
};

IDirect3DSurface9* RenderTargets[RENDER_TARGET_SLOTS];
IDirect3DBaseTexture9* StageTextures[USER_TEXTURE_STAGES];
int StageCount = 0;
DWORD CachedSrcBlend = D3DBLEND_ONE, CachedDestBlend = D3DBLEND_ZERO;
IDirect3DTexture9* WhiteTexture = nullptr;
IDirect3DPixelShader9* ChosenShader = nullptr;

// One stage of a fixed-function program.
struct StageProgram {
  DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2, coordIndex;
  DWORD arg0 = D3DTA_CURRENT;  // the third argument of LERP (colour and alpha)
};
struct Program {
  int count;
  StageProgram stages[MAX_PROGRAM_STAGES];
  IDirect3DBaseTexture9* textures[MAX_PROGRAM_STAGES];
};

const StageProgram STAGE_OFF = {
    D3DTOP_DISABLE, D3DTA_CURRENT, D3DTA_DIFFUSE, D3DTOP_DISABLE, D3DTA_CURRENT, D3DTA_DIFFUSE, 0};

bool ProgrammablePath() {
  return GraphicsSystem.shadersUsable && !DrawPrep.forceFixedFunction && !DeviceCaps.noShaders;
}

IDirect3DTexture9* GetWhiteTexture() {
  if (WhiteTexture != nullptr || !HasDirect3DDevice()) return WhiteTexture;
  IDirect3DTexture9* texture = nullptr;
  if (FAILED(CreateDeviceTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)) ||
      texture == nullptr)
    return nullptr;
  D3DLOCKED_RECT locked;
  if (SUCCEEDED(LockTextureRect(texture, 0, &locked, nullptr, 0))) {
    for (int y = 0; y < 4; y++) {
      DWORD* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch);
      for (int x = 0; x < 4; x++) row[x] = 0xFFFFFFFF;
    }
    UnlockTextureRect(texture, 0);
  }
  WhiteTexture = texture;
  return WhiteTexture;
}

// The colour and alpha of one textured stage for a shader variant: the
// first stage reads texture and diffuse; the later ones finish the variant.
// Returns the number of stages written from `at`.
int VariantStages(StageProgram* out, int variant, DWORD source, bool ignoreTextureAlpha, DWORD coord) {
  const DWORD alphaOp = ignoreTextureAlpha ? D3DTOP_SELECTARG2 : D3DTOP_MODULATE;
  StageProgram first = {D3DTOP_MODULATE, source, D3DTA_DIFFUSE, alphaOp, source, D3DTA_DIFFUSE, coord};
  if (source == D3DTA_DIFFUSE)
    first = {D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE, coord};
  switch (variant) {
    case 1:  // colour towards white where transparent: c a + (1 - a)
      out[0] = first;
      out[1] = {
          D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0};
      return 2;
    case 2:  // inverted colour
      out[0] = first;
      out[1] = {D3DTOP_SELECTARG1,
                D3DTA_CURRENT | D3DTA_COMPLEMENT,
                D3DTA_CURRENT,
                D3DTOP_SELECTARG1,
                D3DTA_CURRENT,
                D3DTA_CURRENT,
                0};
      return 2;
    case 3:  // colour x 4
      out[0] = first;
      out[0].colorOp = source == D3DTA_DIFFUSE ? D3DTOP_SELECTARG1 : D3DTOP_MODULATE4X;
      if (source == D3DTA_DIFFUSE) {
        out[1] = {D3DTOP_MODULATE4X, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0};
        return 2;  // the white texture on stage 1
      }
      return 1;
    case 4:  // premultiplied: colour x vertex alpha
    case 6:
      out[0] = first;
      out[1] = {static_cast<DWORD>(variant == 6 ? D3DTOP_MODULATE4X : D3DTOP_MODULATE),
                D3DTA_CURRENT,
                D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE,
                D3DTOP_SELECTARG1,
                D3DTA_CURRENT,
                D3DTA_CURRENT,
                0};
      return 2;
    case 5:  // premultiplied inverse: (a - c) x colour x vertex alpha (a = 1 when ignored)
      out[0] = {D3DTOP_SUBTRACT,
                ignoreTextureAlpha ? static_cast<DWORD>(D3DTA_TFACTOR) : source | D3DTA_ALPHAREPLICATE,
                source,
                first.alphaOp,
                first.alphaArg1,
                first.alphaArg2,
                coord};
      out[1] = {D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0};
      out[2] = {D3DTOP_MODULATE,
                D3DTA_CURRENT,
                D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE,
                D3DTOP_SELECTARG1,
                D3DTA_CURRENT,
                D3DTA_CURRENT,
                0};
      return 3;
    default: out[0] = first; return 1;
  }
}

void SendStageProgram(const Program& program) {
  for (int i = 0; i < MAX_PROGRAM_STAGES; i++) {
    const StageProgram& s = i < program.count ? program.stages[i] : STAGE_OFF;
    SetDeviceTextureStageState(i, D3DTSS_COLOROP, s.colorOp);
    if (s.colorOp == D3DTOP_DISABLE) {
      SetDeviceTextureStageState(i, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
      break;
    }
    SetDeviceTextureStageState(i, D3DTSS_COLORARG1, s.colorArg1);
    SetDeviceTextureStageState(i, D3DTSS_COLORARG2, s.colorArg2);
    SetDeviceTextureStageState(i, D3DTSS_ALPHAOP, s.alphaOp);
    SetDeviceTextureStageState(i, D3DTSS_ALPHAARG1, s.alphaArg1);
    SetDeviceTextureStageState(i, D3DTSS_ALPHAARG2, s.alphaArg2);
    SetDeviceTextureStageState(i, D3DTSS_TEXCOORDINDEX, s.coordIndex);
    if (s.colorOp == D3DTOP_LERP) SetDeviceTextureStageState(i, D3DTSS_COLORARG0, s.arg0 | D3DTA_ALPHAREPLICATE);
    if (s.alphaOp == D3DTOP_LERP) SetDeviceTextureStageState(i, D3DTSS_ALPHAARG0, s.arg0);
    RenderState.stages[i].texCoordIndex = s.coordIndex;
    RenderState.stages[i].set |= 1;
  }
}

// Stage textures: stages 0 up to count, the rest up to the old count none.
void SendStageTextures(IDirect3DBaseTexture9* const* textures, int count) {
  const int last = count > StageCount ? count : StageCount;
  for (int i = 0; i < last && i < USER_TEXTURE_STAGES; i++) {
    IDirect3DBaseTexture9* texture = i < count ? textures[i] : nullptr;
    if (texture == StageTextures[i] && !RenderState.reapplyAll) continue;
    SetDeviceTexture(i, texture);
    StageTextures[i] = texture;
  }
  if (count != StageCount) {
    // The samplers of newly used stages get the filter again.
    const int mode = RenderState.filterMode;
    const int reapply = RenderState.reapplyAll;
    RenderState.reapplyAll = 1;
    if (mode >= 0 && mode <= 2) SetSamplerFilterCached(mode);
    SetMaxAnisotropyCached(RenderState.maxAnisotropy);
    RenderState.reapplyAll = reapply;
  }
  StageCount = count;
}

// The stage textures of the current blend kind (library drawing).
int LibraryStageTextures(IDirect3DBaseTexture9** out, bool programmable, bool flagB) {
  IDirect3DBaseTexture9* draw = RenderState.texture;
  IDirect3DBaseTexture9* blend = RenderState.blendTexture;
  if (blend == nullptr || draw == nullptr) {
    out[0] = draw;
    return draw != nullptr ? 1 : 0;
  }
  if (programmable || RenderState.blendTextureMode != 1) {
    out[0] = draw;
    out[1] = blend;
    return 2;
  }
  out[0] = blend;
  if (flagB) {
    out[1] = nullptr, out[2] = draw;
    return 3;
  }
  out[1] = draw;
  return 2;
}

void UserStageTextures(const UserTextureSetup* setup, int handles) {
  IDirect3DBaseTexture9* textures[USER_TEXTURE_STAGES] = {};
  const int count = setup->count < 0 ? 0 : setup->count > USER_TEXTURE_STAGES ? USER_TEXTURE_STAGES : setup->count;
  for (int i = 0; i < count; i++) {
    const UserTextureStage& stage = setup->stages[i];
    if (!handles) {
      textures[i] = stage.texture;
      continue;
    }
    const GraphicHandleRecord* record = GetGraphicRecord(stage.handle, 0);
    if (record != nullptr && record->pieceCount > 0 && record->pieces[0].entry != nullptr) {
      textures[i] = record->pieces[0].entry->texture;
    } else if (HandleRecordHeader* header = GetHandleRecordOfType(stage.handle, HANDLETYPE_SHADOWMAP)) {
      textures[i] = reinterpret_cast<ShadowMapRecord*>(header)->texture;
    }
  }
  SendStageTextures(textures, count);
}

DWORD BlendFactor(int value, DWORD cached) { return value == 0 ? cached : static_cast<DWORD>(value); }

// What the draw state asks of one preparation, read from the render-state
// cache.
struct DrawInputs {
  bool programmable;  // pixel shaders (cleared when the shader is missing)
  bool textured, hasBlend;
  int kind;  // blend graphic kind
  int mode;  // blend mode, 0 when outside the table
  bool flagA, flagB;
  bool threshold;  // kind-1 blend graphic
  bool ignoreTextureAlpha;
};

// Alpha test, blending and texture factor of one preparation, with the
// threshold ramp of a kind-1 blend graphic.
struct AlphaChoice {
  int blendOn, testOn, func, ref;
  DWORD factor;
  int kind1Op, kind1Scale, kind1A;
};

DrawInputs ReadDrawInputs() {
  const RenderStateCache& c = RenderState;
  DrawInputs in = {};
  in.programmable = ProgrammablePath();
  in.textured = c.texture != nullptr;
  in.hasBlend = in.textured && c.blendTexture != nullptr;
  in.kind = c.blendTextureMode;
  in.mode = c.blendMode >= 0 && c.blendMode < BLEND_TABLE_ROWS ? c.blendMode : 0;
  in.flagA = c.blendFlagA != 0;
  in.flagB = c.blendFlagB != 0;
  in.threshold = in.hasBlend && in.kind == 1;
  in.ignoreTextureAlpha = !in.flagA && !in.flagB;
  return in;
}

// Only the stage textures changed: the current path keeps its program and
// gets the textures again.
void ResendLibraryStageTextures() {
  RenderStateCache& c = RenderState;
  const bool hasBlend = c.texture != nullptr && c.blendTexture != nullptr;
  FlushVertexBatch(0);
  IDirect3DBaseTexture9* textures[MAX_PROGRAM_STAGES] = {};
  int count = LibraryStageTextures(textures, DrawPrep.programmable != 0, c.blendFlagB != 0);
  if (!DrawPrep.programmable && !hasBlend && DrawPrep.stageCount > count) {
    // Keep the white texture of variant 3 on stage 1.
    textures[1] = StageTextures[1];
    count = DrawPrep.stageCount;
  }
  SendStageTextures(textures, count);
  c.textureChanged = 0;
  c.statesChanged = 1;
}

// The blend-table row of the draw (kept in DrawPrep.row).
int ChooseBlendRow(const DrawInputs& in) {
  int row = in.mode;
  if (in.mode == 0) {
    if (CurrentDrawState.destinationBlend) row = ROW_DESTINATION;
    if (in.textured &&
        ((!in.hasBlend && in.flagB) || (in.hasBlend && (in.kind == 0 || in.kind == 2) && (in.flagA || in.flagB)) ||
         (in.hasBlend && in.kind == 1)))
      row = ROW_ALPHA;
  } else if (in.mode == 3 && DeviceCaps.subtractBlendNative) {
    row = ROW_SUBTRACT;
  }
  DrawPrep.row = row;
  return row;
}

// Alpha test and blending of the row; a kind-1 blend graphic tests against
// its threshold, or ramps through the texture factor's alpha with a soft
// range. The caller's alpha test mode wins. Kept in DrawPrep.
AlphaChoice ChooseAlphaTest(const DrawInputs& in, const BlendTableRow& row) {
  const RenderStateCache& c = RenderState;
  AlphaChoice a = {row.enable, 0, D3DCMP_GREATER, 0, 0xFFFFFFFF, 0, 1, 0};
  if (in.textured) {
    if (in.flagA) {
      a.testOn = 1, a.ref = ALPHA_CHANNEL_REF;
    } else if (row.enable) {
      a.testOn = 1, a.ref = 0;
    }
  }
  if (in.threshold) {
    const int p = c.blendTextureParam[0], range = c.blendTextureParam[1];
    if (range < 2) {
      a.testOn = 1;
      a.func = D3DCMP_GREATEREQUAL;
      a.ref = p == 0 && (in.flagA || in.flagB) ? 1 : p;
      a.blendOn = 0;
    } else {
      a.testOn = 0;
      a.blendOn = 1;
      const int w = range < THRESHOLD_NARROW_RANGE ? THRESHOLD_NARROW_SPAN
                    : range < THRESHOLD_MID_RANGE  ? THRESHOLD_MID_SPAN
                                                   : THRESHOLD_WIDE_SPAN;
      a.kind1Scale = range < THRESHOLD_NARROW_RANGE ? 4 : range < THRESHOLD_MID_RANGE ? 2 : 1;
      const int m = w == THRESHOLD_NARROW_SPAN ? THRESHOLD_NARROW_SCALE
                    : w == THRESHOLD_MID_SPAN  ? THRESHOLD_MID_SCALE
                                               : THRESHOLD_WIDE_SCALE;
      const int t = w - p * w / FULL_PARAM;
      if (t < w - THRESHOLD_RAMP) {
        a.kind1A = (-(t * FULL_PARAM / (w - THRESHOLD_RAMP)) - 1) & 255;
        a.kind1Op = D3DTOP_SUBTRACT;
      } else {
        a.kind1A = (THRESHOLD_RAMP - p * w / FULL_PARAM) * m / THRESHOLD_RAMP;
        a.kind1Op = D3DTOP_ADD;
      }
      a.factor = static_cast<DWORD>(a.kind1A & 255) << 24 | 0xFFFFFF;
    }
  }
  if (c.alphaTestMode != -1) {
    a.testOn = 1;
    a.func = c.alphaTestMode;
    a.ref = c.alphaTestRef;
  }
  DrawPrep.alphaTestOn = a.testOn;
  DrawPrep.alphaFunc = a.func;
  DrawPrep.alphaRef = a.ref;
  DrawPrep.textureFactor = a.factor;
  return a;
}

// The drawing shader of the base set for the draw (its index kept in
// DrawPrep.shaderIndex); a missing one clears *programmable so that the
// stage program stands in.
IDirect3DPixelShader9* ChooseDrawShader(const DrawInputs& in, int variant, bool* programmable) {
  int index = -1;
  IDirect3DPixelShader9* shader = nullptr;
  if (*programmable) {
    if (!in.textured) {
      index = variant * 2;
      shader = GraphicsSystem.nonetexShaders[index];
    } else {
      const int b = in.hasBlend ? 1 + (in.kind >= 0 && in.kind <= 2 ? in.kind : 0) : 0;
      const int t = !in.hasBlend ? variant : (in.mode == 12 || in.mode == 13) ? 3 : in.mode == 10 ? 2 : 0;
      const int color = CurrentDrawState.ignoreColor ? 1 : 0;
      index = (((b * SHADER_VARIANTS + t) * 2 + color) * 2 + (in.ignoreTextureAlpha ? 1 : 0)) * 2;
      shader = GraphicsSystem.blendShaders[index];
    }
    if (shader == nullptr) *programmable = false;
  }
  DrawPrep.shaderIndex = *programmable ? index : -1;
  return *programmable ? shader : nullptr;
}

// The shader on the device, and c0 for the blend-graphic shaders.
void ApplyDrawShader(const DrawInputs& in, IDirect3DPixelShader9* shader, const AlphaChoice& alpha) {
  RenderStateCache& c = RenderState;
  ChosenShader = shader;
  if (c.pixelShader != shader) {
    SetDevicePixelShader(shader);
    c.pixelShader = shader;
  }
  // c0: the blend graphic's parameters (kind 0 the mix ratio, kind 1 the
  // threshold's offset and scale), else the texture factor.
  const DWORD factor = alpha.factor;
  float constants[4];
  if (in.threshold && c.blendTextureParam[1] >= 2) {
    const float a = static_cast<float>(alpha.kind1A) / 255.0f;
    MakeFloat4(constants, 0.0f, 0.0f, static_cast<float>(alpha.kind1Scale), alpha.kind1Op == D3DTOP_SUBTRACT ? -a : a);
  } else if (in.threshold) {
    MakeFloat4(constants, 0.0f, 0.0f, 1.0f, 0.0f);
  } else if (in.hasBlend && in.kind == 0) {
    MakeFloat4(constants, 0.0f, 0.0f, 0.0f, c.blendTextureParam[0] / 255.0f);
  } else {
    MakeFloat4(constants, ((factor >> 16) & 255) / 255.0f, ((factor >> 8) & 255) / 255.0f, (factor & 255) / 255.0f,
               ((factor >> 24) & 255) / 255.0f);
  }
  // Only the blend-graphic shaders read c0; others keep the base constant.
  if (in.hasBlend) SetShaderConstantCached(&ShaderConstants, 3, 0, 0, constants, 1, 1);
}

// The fixed-function stages of the blend graphic kinds; the mix (kind 0)
// puts its ratio into the texture factor.
void BlendGraphStages(const DrawInputs& in, const AlphaChoice& alpha, Program* program, DWORD* factor) {
  const RenderStateCache& c = RenderState;
  // A kind-2 vertex's specular colour is white: alpha 1 for an ignored
  // texture alpha.
  const DWORD imageAlpha = in.ignoreTextureAlpha ? D3DTOP_SELECTARG2 : D3DTOP_MODULATE;
  const DWORD imageAlphaArg = in.ignoreTextureAlpha ? D3DTA_SPECULAR : D3DTA_TEXTURE;
  if (in.kind == 2) {
    program->stages[0] = {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, imageAlpha, D3DTA_TEXTURE, D3DTA_DIFFUSE, 1};
    program->stages[1] = {
        D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE, 0};
    program->count = 2;
  } else if (in.kind == 1) {
    const int imageStage = in.flagB ? 2 : 1;
    if (c.blendTextureParam[1] >= 2) {
      program->stages[0] = {D3DTOP_SELECTARG1,
                            D3DTA_TEXTURE,
                            D3DTA_DIFFUSE,
                            static_cast<DWORD>(alpha.kind1Op),
                            D3DTA_TEXTURE,
                            D3DTA_TFACTOR,
                            0};
    } else {
      program->stages[0] = {
          D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
    }
    if (imageStage == 2)
      program->stages[1] = {
          D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, 0};
    const DWORD scaleOp = alpha.kind1Scale == 4   ? D3DTOP_MODULATE4X
                          : alpha.kind1Scale == 2 ? D3DTOP_MODULATE2X
                                                  : D3DTOP_MODULATE;
    const DWORD alphaOp = c.blendTextureParam[1] >= 2 ? scaleOp : static_cast<DWORD>(D3DTOP_SELECTARG2);
    program->stages[imageStage] = {
        D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, alphaOp, imageAlphaArg, D3DTA_CURRENT, 1};
    program->count = imageStage + 1;
  } else {
    // Mix: the image and the blend graphic by the ratio (the texture
    // factor's alpha), then the vertex colour.
    *factor = static_cast<DWORD>(c.blendTextureParam[0] & 255) << 24 | 0xFFFFFF;
    program->stages[0] = {
        D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, imageAlphaArg, D3DTA_DIFFUSE, 1};
    program->stages[1] = {D3DTOP_LERP, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_LERP, D3DTA_TEXTURE, D3DTA_CURRENT,
                          0,           D3DTA_TFACTOR};
    program->stages[2] = {
        D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE, 0};
    program->count = 3;
  }
}

// No shader: the fixed-function stage program of the variant or blend kind
// on the device (an untextured x4 draw reads the white texture).
void ApplyStageProgram(const DrawInputs& in, int variant, AlphaChoice* alpha, IDirect3DBaseTexture9** textures,
                       int* count) {
  RenderStateCache& c = RenderState;
  ChosenShader = nullptr;
  if (c.pixelShader != nullptr) {
    SetDevicePixelShader(nullptr);
    c.pixelShader = nullptr;
  }
  Program program = {};
  if (!in.hasBlend) {
    const DWORD source = in.textured ? D3DTA_TEXTURE : D3DTA_DIFFUSE;
    program.count = VariantStages(program.stages, variant, source, in.ignoreTextureAlpha, 0);
    if ((variant == 3 && !in.textured) || (variant == 6 && !in.textured)) {
      // Untextured x4: the white texture stands for the image.
      IDirect3DBaseTexture9* white = GetWhiteTexture();
      program.stages[0] = {
          D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0};
      if (variant == 3) program.stages[0].colorOp = D3DTOP_MODULATE4X;
      program.count = variant == 3 ? 1 : 2;
      textures[0] = white;
      *count = 1;
    }
  } else {
    BlendGraphStages(in, *alpha, &program, &alpha->factor);
  }
  if (program.count > *count) {
    // Later stages of a variant read no texture of their own (x4 of an
    // untextured draw excepted).
    for (int i = *count; i < program.count; i++) textures[i] = nullptr;
  }
  SendStageProgram(program);
  DrawPrep.stageCount = program.count;
}

// Alpha test, blending and the row's blend factors and operation.
void SendBlendRenderStates(const DrawInputs& in, const BlendTableRow& row, const AlphaChoice& alpha) {
  SetDeviceRenderState(D3DRS_ALPHAFUNC, static_cast<DWORD>(alpha.func));
  SetDeviceRenderState(D3DRS_ALPHAREF, static_cast<DWORD>(alpha.ref));
  SetDeviceRenderState(D3DRS_ALPHATESTENABLE, alpha.testOn ? TRUE : FALSE);
  SetDeviceRenderState(D3DRS_ALPHABLENDENABLE, alpha.blendOn ? TRUE : FALSE);
  if (!in.programmable) SetDeviceRenderState(D3DRS_TEXTUREFACTOR, alpha.factor);
  CachedSrcBlend = BlendFactor(row.srcBlend, CachedSrcBlend);
  CachedDestBlend = BlendFactor(row.destBlend, CachedDestBlend);
  SetDeviceRenderState(D3DRS_SRCBLEND, CachedSrcBlend);
  SetDeviceRenderState(D3DRS_DESTBLEND, CachedDestBlend);
  SetDeviceRenderState(D3DRS_BLENDOP, static_cast<DWORD>(row.blendOp));
  SetDeviceRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
}

}  // namespace

// ---------------------------------------------------------------------------

int SetForceFixedFunction(int on) {
  FlushVertexBatch(0);
  DrawPrep.forceFixedFunction = on ? 1 : 0;
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int PrepareGraphicDrawState(const UserTextureSetup* setup, [[maybe_unused]] int stageProgram, int handles) {
  if (!HasDirect3DDevice()) return -1;
  if (setup == nullptr && DrawPrep.userSetupOn) setup = &DrawPrep.userSetup;
  if (setup != nullptr) {
    FlushVertexBatch(0);
    UserStageTextures(setup, handles);
    return 0;
  }
  RenderStateCache& c = RenderState;
  if (!c.reapplyAll && !c.choosePixelShader) {
    if (!c.textureChanged) return -1;
    if (JoinBatchTexture(c.texture)) {
      c.textureChanged = 0;
      c.statesChanged = 1;
      return 0;
    }
    ResendLibraryStageTextures();
    return 0;
  }
  FlushVertexBatch(0);
  c.choosePixelShader = 0;
  c.textureChanged = 0;
  c.statesChanged = 1;
  DrawInputs in = ReadDrawInputs();
  const BlendTableRow& row = BlendTable[ChooseBlendRow(in)];
  DrawPrep.vertexKind = !in.textured ? VERTEX_KIND_PLAIN : in.hasBlend ? VERTEX_KIND_BLEND : VERTEX_KIND_TEX;
  VertexBatch.drawNothing = in.hasBlend && in.kind == 1 && c.blendTextureParam[0] == FULL_PARAM ? 1 : 0;
  AlphaChoice alpha = ChooseAlphaTest(in, row);
  IDirect3DPixelShader9* shader = ChooseDrawShader(in, row.variant, &in.programmable);
  DrawPrep.programmable = in.programmable ? 1 : 0;
  IDirect3DBaseTexture9* textures[MAX_PROGRAM_STAGES] = {};
  int count = LibraryStageTextures(textures, in.programmable, in.flagB);
  if (in.programmable) {
    ApplyDrawShader(in, shader, alpha);
  } else {
    ApplyStageProgram(in, row.variant, &alpha, textures, &count);
  }
  SendStageTextures(textures, count);
  SendBlendRenderStates(in, row, alpha);
  return 0;
}

int PrepareGraphicDrawStateNow(const UserTextureSetup* setup, int stageProgram, int handles) {
  FlushVertexBatch(0);
  const int result = PrepareGraphicDrawState(setup, stageProgram, handles);
  RenderState.choosePixelShader = 1;
  RenderState.textureChanged = 1;
  RenderState.statesChanged = 1;
  ForgetLastDrawSetup();
  return result;
}

int SetUserTextureSetup(const UserTextureSetup* setup, int value) {
  FlushVertexBatch(0);
  if (setup == nullptr) {
    DrawPrep.userSetupOn = 0;
    RenderState.choosePixelShader = 1;
    RenderState.textureChanged = 1;
    RenderState.statesChanged = 1;
    ForgetLastDrawSetup();
    return 0;
  }
  DrawPrep.userSetup = *setup;
  DrawPrep.userSetupValue = value;
  DrawPrep.userSetupOn = 1;
  RenderState.choosePixelShader = 1;
  RenderState.textureChanged = 1;
  RenderState.statesChanged = 1;
  ForgetLastDrawSetup();
  return PrepareGraphicDrawState(nullptr, 0, 1);
}

void ForgetLastDrawSetup() { DrawPrep.lastValid = 0; }

bool DrawStateApplyNeeded(IDirect3DBaseTexture9* texture, int flags) {
  return RenderState.statesChanged || !DrawPrep.lastValid || DrawPrep.lastTexture != texture ||
         DrawPrep.lastFlags != flags;
}

void ApplyDrawStateForTexture(IDirect3DBaseTexture9* texture, int flags) {
  if (!HasDirect3DDevice()) return;
  RenderStateCache& c = RenderState;
  c.statesChanged = 0;
  if (!(flags & DRAW_FLAG_USER_SHADERS)) {
    if (c.vertexShader != nullptr) {
      FlushVertexBatch(0);
      SetDeviceVertexShader(nullptr);
      c.vertexShader = nullptr;
      c.declaration = nullptr;
      c.fvf = 0;
    }
    if (c.pixelShader != nullptr && c.pixelShader != ChosenShader) {
      FlushVertexBatch(0);
      SetDevicePixelShader(nullptr);
      c.pixelShader = nullptr;
      c.choosePixelShader = 1;
    }
  }
  if (!(flags & DRAW_FLAG_LIGHTING)) {
    if (c.lighting) SetLightingEnableCached(0);
  } else {
    // Changed lights reach the device (and their view-space constants).
    ApplyLightsToDevice();
    SetDiffuseMaterialSourceCached(CurrentDrawState.diffuseSource);
    SetSpecularMaterialSourceCached(CurrentDrawState.specularSource);
  }
  SetSpecularEnableCached((flags & DRAW_FLAG_SPECULAR) && CurrentDrawState.specularSwitch ? 1 : 0);
  const DrawZSetting& z = CurrentDrawState.zSettings[(flags & DRAW_FLAG_Z_SET_2) ? 1 : 0];
  if (!z.enable) {
    SetZEnableCached(0);
    SetZWriteEnableCached(z.write);
  } else {
    SetZEnableCached(1);
    SetZWriteEnableCached(z.write);
    SetZFuncCached(z.func);
    SetDepthBiasCached(z.bias);
  }
  SetFillModeCached(CurrentDrawState.fillMode);
  SetFogEnableCached((flags & DRAW_FLAG_FOG) ? CurrentDrawState.fogEnable : 0);
  if (!(flags & DRAW_FLAG_KEEP_SELECTION)) {
    int flagA = (flags & DRAW_FLAG_ALPHA_CHANNEL) ? 1 : 0;
    int flagB = texture != nullptr && (flags & DRAW_FLAG_TRANSPARENT) && (flags & DRAW_FLAG_TRANS_COLOR) ? 1 : 0;
    if (!(flags & DRAW_FLAG_TRANSPARENT)) flagA = 0;
    if ((flagA || flagB) && ((CurrentDrawState.blendMode != 0 && CurrentDrawState.blendMode != 8) ||
                             (!(flags & DRAW_FLAG_PIXEL_EXACT) && CurrentDrawState.samplingMode == 1))) {
      flagA = 0;
      flagB = 1;
    }
    const int useColor = (flags & DRAW_FLAG_USE_COLOR) || (CurrentDrawState.brightness & 0xFFFFFF) != 0xFFFFFF ? 1 : 0;
    const int useAlpha = (flags & DRAW_FLAG_USE_ALPHA) || CurrentDrawState.blendMode != 0 ? 1 : 0;
    SetDrawUseColorCached(useColor);
    SetDrawAlphaFlagCached(useAlpha);
    SetDrawTexture(texture);
    SetIgnoreColorSelectCached(CurrentDrawState.ignoreColor);
    SetDrawBlendModeCached(CurrentDrawState.blendMode, flagA, flagB);
    SetExtraShaderSelectCached((flags & DRAW_FLAG_EXTRA_SELECT) ? 1 : 0);
    SetAlphaTestCached(CurrentDrawState.alphaTestMode, CurrentDrawState.alphaTestRef);
    if (c.choosePixelShader || c.textureChanged || c.reapplyAll ||
        (ProgrammablePath() && c.pixelShader != ChosenShader))
      PrepareGraphicDrawState(nullptr, 0, 1);
  }
  SetShadeModeCached((flags & DRAW_FLAG_GOURAUD) ? D3DSHADE_GOURAUD : D3DSHADE_FLAT);
  SetSamplerFilterCached(CurrentDrawState.samplingMode);
  SetMaxAnisotropyCached(CurrentDrawState.maxAnisotropy);
  SetCullModeCached((flags & DRAW_FLAG_CULL) ? CurrentDrawState.cullMode : 0);
  SetTextureTransformCached(-1, nullptr);
  if (!(flags & DRAW_FLAG_ADDRESS_MODES)) {
    for (int s = 0; s < 4; s++) {
      SetTextureAddressUCached(s, D3DTADDRESS_CLAMP);
      SetTextureAddressVCached(s, D3DTADDRESS_CLAMP);
    }
  } else {
    for (int s = 0; s < 8; s++) {
      SetTextureAddressUCached(s, CurrentDrawState.addressU);
      SetTextureAddressVCached(s, CurrentDrawState.addressV);
    }
  }
  c.statesChanged = 0;
  DrawPrep.lastTexture = texture;
  DrawPrep.lastFlags = flags;
  DrawPrep.lastValid = 1;
}

void PrepareUntexturedDrawState() { ApplyDrawStateForTexture(nullptr, 0); }

int SetRenderTargetCached(IDirect3DSurface9* surface, int slot) {
  if (!HasDirect3DDevice() || slot < 0 || slot >= RENDER_TARGET_SLOTS) return -1;
  if (RenderTargets[slot] == surface && !RenderState.reapplyAll) return 0;
  if (!RenderState.reapplyAll) FlushVertexBatch(0);
  SetDeviceRenderTarget(slot, surface);
  RenderTargets[slot] = surface;
  if (slot == 0 && surface != nullptr) {
    D3DSURFACE_DESC desc;
    if (SUCCEEDED(GetSurfaceDesc(surface, &desc))) {
      // Setting render target 0 resets the device viewport to the surface.
      RenderState.viewport = {0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
      SetViewportRect(0, 0, static_cast<int>(desc.Width), static_cast<int>(desc.Height));
    }
  }
  return 0;
}

IDirect3DSurface9* GetCachedRenderTarget(int slot) {
  return slot >= 0 && slot < RENDER_TARGET_SLOTS ? RenderTargets[slot] : nullptr;
}

void ReleaseDrawDeviceObjects() {
  if (WhiteTexture != nullptr) ReleaseComObject(WhiteTexture);
  WhiteTexture = nullptr;
  ForgetCachedRenderTargets();
}

void ForgetCachedRenderTargets() {
  memset(RenderTargets, 0, sizeof RenderTargets);
  memset(StageTextures, 0, sizeof StageTextures);
  StageCount = 0;
  CachedSrcBlend = D3DBLEND_ONE;
  CachedDestBlend = D3DBLEND_ZERO;
  ChosenShader = nullptr;
  DrawPrep.lastValid = 0;
}

IDirect3DBaseTexture9* GetStageTexture(int stage) {
  return stage >= 0 && stage < USER_TEXTURE_STAGES ? StageTextures[stage] : nullptr;
}

void SetStageTexture(int stage, IDirect3DBaseTexture9* texture) {
  if (stage < 0 || stage >= USER_TEXTURE_STAGES || (StageTextures[stage] == texture && !RenderState.reapplyAll)) return;
  SetDeviceTexture(stage, texture);
  StageTextures[stage] = texture;
}

IDirect3DPixelShader9* GetChosenDrawShader() { return ChosenShader; }

void SetChosenDrawShader(IDirect3DPixelShader9* shader) {
  ChosenShader = shader;
  if (RenderState.pixelShader == shader) return;
  SetDevicePixelShader(shader);
  RenderState.pixelShader = shader;
}
