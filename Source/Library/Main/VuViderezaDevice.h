// Direct3D 9 device layer: loading and device creation, the device call
// table with its wrappers and main-thread pairs, display-mode changes, the
// capability probe and format choice, present and screen settings.
#ifndef VUVIDEREZA_DEVICE_H
#define VUVIDEREZA_DEVICE_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include "RaRadaraServices.h"
#include "RiDov.h"

struct IDirectDraw7;

// ---------------------------------------------------------------------------
// The device call table: every Direct3D, DirectDraw and display call of the
// library goes through it. The real table calls the platform; tests install
// their own with SetDirect3DCallTable.

// Calls on the IDirect3D9 object: X(result, wrapper, (params), (args), method)
#define RIDOV_D3D_OBJECT_CALLS(X)                                                                                   \
  X(HRESULT, GetAdapterIdentifierOfDirect3D, (UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9 * id),              \
    (adapter, flags, id), GetAdapterIdentifier)                                                                     \
  X(HRESULT, CheckDeviceFormatOfDirect3D,                                                                           \
    (UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE rtype, D3DFORMAT format), \
    (adapter, type, adapterFormat, usage, rtype, format), CheckDeviceFormat)                                        \
  X(HRESULT, CheckDepthStencilMatchOfDirect3D,                                                                      \
    (UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT targetFormat, D3DFORMAT depthFormat),        \
    (adapter, type, adapterFormat, targetFormat, depthFormat), CheckDepthStencilMatch)                              \
  X(HRESULT, GetDeviceCapsOfDirect3D, (UINT adapter, D3DDEVTYPE type, D3DCAPS9 * caps), (adapter, type, caps),      \
    GetDeviceCaps)                                                                                                  \
  X(HRESULT, GetAdapterDisplayModeOfDirect3D, (UINT adapter, D3DDISPLAYMODE * mode), (adapter, mode),               \
    GetAdapterDisplayMode)                                                                                          \
  X(UINT, GetAdapterModeCountOfDirect3D, (UINT adapter, D3DFORMAT format), (adapter, format), GetAdapterModeCount)  \
  X(HRESULT, CheckDeviceMultiSampleTypeOfDirect3D,                                                                  \
    (UINT adapter, D3DDEVTYPE type, D3DFORMAT format, BOOL windowed, D3DMULTISAMPLE_TYPE samples, DWORD * quality), \
    (adapter, type, format, windowed, samples, quality), CheckDeviceMultiSampleType)                                \
  X(HRESULT, CreateDeviceOfDirect3D,                                                                                \
    (UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags, D3DPRESENT_PARAMETERS * params,                        \
     IDirect3DDevice9 * *device),                                                                                   \
    (adapter, type, focus, flags, params, device), CreateDevice)

// Calls on the device, in the order of IDirect3DDevice9.
#define RIDOV_D3D_DEVICE_CALLS(X)                                                                                     \
  X(HRESULT, TestDeviceCooperativeLevelRaw, (), (), TestCooperativeLevel)                                             \
  X(HRESULT, GetDeviceCapsOfDevice, (D3DCAPS9 * caps), (caps), GetDeviceCaps)                                         \
  X(HRESULT, GetDeviceSwapChain, (UINT index, IDirect3DSwapChain9 * *chain), (index, chain), GetSwapChain)            \
  X(HRESULT, PresentDevice, (const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty),                \
    (source, dest, window, dirty), Present)                                                                           \
  X(HRESULT, GetDeviceBackBuffer, (UINT chain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9 * *surface),    \
    (chain, index, type, surface), GetBackBuffer)                                                                     \
  X(HRESULT, SetDeviceDialogBoxModeRaw, (BOOL enable), (enable), SetDialogBoxMode)                                    \
  X(HRESULT, CreateDeviceTexture,                                                                                     \
    (UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9 * *texture, \
     HANDLE * shared),                                                                                                \
    (width, height, levels, usage, format, pool, texture, shared), CreateTexture)                                     \
  X(HRESULT, CreateDeviceVolumeTexture,                                                                               \
    (UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,                   \
     IDirect3DVolumeTexture9 * *texture, HANDLE * shared),                                                            \
    (width, height, depth, levels, usage, format, pool, texture, shared), CreateVolumeTexture)                        \
  X(HRESULT, CreateDeviceCubeTexture,                                                                                 \
    (UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9 * *texture,           \
     HANDLE * shared),                                                                                                \
    (edge, levels, usage, format, pool, texture, shared), CreateCubeTexture)                                          \
  X(HRESULT, CreateDeviceVertexBuffer,                                                                                \
    (UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9 * *buffer, HANDLE * shared),           \
    (length, usage, fvf, pool, buffer, shared), CreateVertexBuffer)                                                   \
  X(HRESULT, CreateDeviceIndexBuffer,                                                                                 \
    (UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9 * *buffer, HANDLE * shared),     \
    (length, usage, format, pool, buffer, shared), CreateIndexBuffer)                                                 \
  X(HRESULT, CreateDeviceRenderTarget,                                                                                \
    (UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE samples, DWORD quality, BOOL lockable,            \
     IDirect3DSurface9 * *surface, HANDLE * shared),                                                                  \
    (width, height, format, samples, quality, lockable, surface, shared), CreateRenderTarget)                         \
  X(HRESULT, CreateDeviceDepthStencilSurface,                                                                         \
    (UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE samples, DWORD quality, BOOL discard,             \
     IDirect3DSurface9 * *surface, HANDLE * shared),                                                                  \
    (width, height, format, samples, quality, discard, surface, shared), CreateDepthStencilSurface)                   \
  X(HRESULT, UpdateDeviceSurface,                                                                                     \
    (IDirect3DSurface9 * source, const RECT* rect, IDirect3DSurface9* dest, const POINT* point),                      \
    (source, rect, dest, point), UpdateSurface)                                                                       \
  X(HRESULT, UpdateDeviceTexture, (IDirect3DBaseTexture9 * source, IDirect3DBaseTexture9 * dest), (source, dest),     \
    UpdateTexture)                                                                                                    \
  X(HRESULT, GetDeviceRenderTargetData, (IDirect3DSurface9 * target, IDirect3DSurface9 * dest), (target, dest),       \
    GetRenderTargetData)                                                                                              \
  X(HRESULT, StretchDeviceRect,                                                                                       \
    (IDirect3DSurface9 * source, const RECT* sourceRect, IDirect3DSurface9* dest, const RECT* destRect,               \
     D3DTEXTUREFILTERTYPE filter),                                                                                    \
    (source, sourceRect, dest, destRect, filter), StretchRect)                                                        \
  X(HRESULT, ColorFillDeviceSurface, (IDirect3DSurface9 * surface, const RECT* rect, D3DCOLOR color),                 \
    (surface, rect, color), ColorFill)                                                                                \
  X(HRESULT, CreateDeviceOffscreenPlainSurface,                                                                       \
    (UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, IDirect3DSurface9 * *surface, HANDLE * shared),         \
    (width, height, format, pool, surface, shared), CreateOffscreenPlainSurface)                                      \
  X(HRESULT, SetDeviceRenderTarget, (DWORD index, IDirect3DSurface9 * surface), (index, surface), SetRenderTarget)    \
  X(HRESULT, SetDeviceDepthStencilSurface, (IDirect3DSurface9 * surface), (surface), SetDepthStencilSurface)          \
  X(HRESULT, GetDeviceDepthStencilSurface, (IDirect3DSurface9 * *surface), (surface), GetDepthStencilSurface)         \
  X(HRESULT, BeginDeviceScene, (), (), BeginScene)                                                                    \
  X(HRESULT, EndDeviceScene, (), (), EndScene)                                                                        \
  X(HRESULT, ClearDevice, (DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil),   \
    (count, rects, flags, color, z, stencil), Clear)                                                                  \
  X(HRESULT, SetDeviceTransform, (D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix), (state, matrix),             \
    SetTransform)                                                                                                     \
  X(HRESULT, SetDeviceViewport, (const D3DVIEWPORT9* viewport), (viewport), SetViewport)                              \
  X(HRESULT, SetDeviceMaterial, (const D3DMATERIAL9* material), (material), SetMaterial)                              \
  X(HRESULT, GetDeviceMaterial, (D3DMATERIAL9 * material), (material), GetMaterial)                                   \
  X(HRESULT, SetDeviceLightRaw, (DWORD index, const D3DLIGHT9* light), (index, light), SetLight)                      \
  X(HRESULT, EnableDeviceLight, (DWORD index, BOOL enable), (index, enable), LightEnable)                             \
  X(HRESULT, SetDeviceRenderState, (D3DRENDERSTATETYPE state, DWORD value), (state, value), SetRenderState)           \
  X(HRESULT, SetDeviceTexture, (DWORD stage, IDirect3DBaseTexture9 * texture), (stage, texture), SetTexture)          \
  X(HRESULT, SetDeviceTextureStageState, (DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value),                   \
    (stage, type, value), SetTextureStageState)                                                                       \
  X(HRESULT, SetDeviceSamplerState, (DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value), (sampler, type, value),   \
    SetSamplerState)                                                                                                  \
  X(HRESULT, SetDeviceScissorRect, (const RECT* rect), (rect), SetScissorRect)                                        \
  X(HRESULT, DrawDevicePrimitiveUP, (D3DPRIMITIVETYPE type, UINT count, const void* vertices, UINT stride),           \
    (type, count, vertices, stride), DrawPrimitiveUP)                                                                 \
  X(HRESULT, DrawDeviceIndexedPrimitiveUP,                                                                            \
    (D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount, UINT count, const void* indices, D3DFORMAT indexFormat,  \
     const void* vertices, UINT stride),                                                                              \
    (type, minIndex, vertexCount, count, indices, indexFormat, vertices, stride), DrawIndexedPrimitiveUP)             \
  X(HRESULT, CreateDeviceVertexDeclaration,                                                                           \
    (const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** declaration), (elements, declaration),          \
    CreateVertexDeclaration)                                                                                          \
  X(HRESULT, SetDeviceVertexDeclaration, (IDirect3DVertexDeclaration9 * declaration), (declaration),                  \
    SetVertexDeclaration)                                                                                             \
  X(HRESULT, SetDeviceFVF, (DWORD fvf), (fvf), SetFVF)                                                                \
  X(HRESULT, CreateDeviceVertexShader, (const DWORD* code, IDirect3DVertexShader9** shader), (code, shader),          \
    CreateVertexShader)                                                                                               \
  X(HRESULT, SetDeviceVertexShader, (IDirect3DVertexShader9 * shader), (shader), SetVertexShader)                     \
  X(HRESULT, SetDeviceVertexShaderConstantF, (UINT start, const float* data, UINT count), (start, data, count),       \
    SetVertexShaderConstantF)                                                                                         \
  X(HRESULT, SetDeviceVertexShaderConstantI, (UINT start, const int* data, UINT count), (start, data, count),         \
    SetVertexShaderConstantI)                                                                                         \
  X(HRESULT, SetDeviceVertexShaderConstantB, (UINT start, const BOOL* data, UINT count), (start, data, count),        \
    SetVertexShaderConstantB)                                                                                         \
  X(HRESULT, CreateDevicePixelShader, (const DWORD* code, IDirect3DPixelShader9** shader), (code, shader),            \
    CreatePixelShader)                                                                                                \
  X(HRESULT, SetDevicePixelShader, (IDirect3DPixelShader9 * shader), (shader), SetPixelShader)                        \
  X(HRESULT, SetDevicePixelShaderConstantF, (UINT start, const float* data, UINT count), (start, data, count),        \
    SetPixelShaderConstantF)                                                                                          \
  X(HRESULT, SetDevicePixelShaderConstantI, (UINT start, const int* data, UINT count), (start, data, count),          \
    SetPixelShaderConstantI)                                                                                          \
  X(HRESULT, SetDevicePixelShaderConstantB, (UINT start, const BOOL* data, UINT count), (start, data, count),         \
    SetPixelShaderConstantB)


struct Direct3DCallTable {
#define RIDOV_TABLE_ENTRY(R, name, params, args, method) R(*name) params;
#define RIDOV_UNWRAP(...) __VA_ARGS__
  RIDOV_D3D_OBJECT_CALLS(RIDOV_TABLE_ENTRY)
  RIDOV_D3D_DEVICE_CALLS(RIDOV_TABLE_ENTRY)
  // clang-format off
  HRESULT (*GetTextureSurfaceLevel)(IDirect3DTexture9* texture, UINT level, IDirect3DSurface9** surface);
  HRESULT (*LockTextureRect)(IDirect3DTexture9* texture, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
      DWORD flags);
  HRESULT (*UnlockTextureRect)(IDirect3DTexture9* texture, UINT level);
  HRESULT (*GetCubeTextureSurface)(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
      IDirect3DSurface9** surface);
  HRESULT (*LockCubeTextureRect)(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
      D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  HRESULT (*UnlockCubeTextureRect)(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level);
  HRESULT (*GetSurfaceDesc)(IDirect3DSurface9* surface, D3DSURFACE_DESC* desc);
  HRESULT (*LockSurfaceRect)(IDirect3DSurface9* surface, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
  HRESULT (*UnlockSurfaceRect)(IDirect3DSurface9* surface);
  HRESULT (*PresentSwapChain)(IDirect3DSwapChain9* chain, const RECT* source, const RECT* dest, HWND window,
      const RGNDATA* dirty, DWORD flags);
  // Lock and Unlock of a vertex or an index buffer.
  HRESULT (*LockBuffer)(IDirect3DResource9* buffer, UINT offset, UINT size, void** data, DWORD flags);
  HRESULT (*UnlockBuffer)(IDirect3DResource9* buffer);
  // LockBox and UnlockBox of a volume texture.
  HRESULT (*LockVolumeBox)(IDirect3DVolumeTexture9* texture, UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box,
      DWORD flags);
  HRESULT (*UnlockVolumeBox)(IDirect3DVolumeTexture9* texture, UINT level);
  ULONG (*ReleaseComObject)(IUnknown* object);
  // clang-format on
#undef RIDOV_TABLE_ENTRY

  // d3d9.dll and its creation entry.
  HMODULE (*LoadD3D9Library)(const char* name);
  FARPROC (*GetD3D9Entry)(HMODULE module, const char* name);
  BOOL (*FreeD3D9Library)(HMODULE module);
  // DirectDraw 7, only for the vertical-blank wait.
  HRESULT (*CreateDirectDraw7)(IDirectDraw7** object);
  HRESULT (*InitializeDirectDraw)(IDirectDraw7* object);
  HRESULT (*SetDirectDrawCooperativeLevel)(IDirectDraw7* object, HWND window, DWORD flags);
  HRESULT (*WaitForVerticalBlank)(IDirectDraw7* object, DWORD flags);
  // Display settings.
  LONG (*ChangeDisplaySettings)(DEVMODEA* mode, DWORD flags);
  BOOL (*EnumDisplaySettings)(DWORD index, DEVMODEA* mode);
  // Clock and sleep of the refresh measurement and the timed wait.
  int64_t (*GetMicroseconds)();
  void (*SleepMilliseconds)(DWORD milliseconds);
};

// The table in use; the real one is installed at load.
extern const Direct3DCallTable* Direct3DCalls;
const Direct3DCallTable* GetRealDirect3DCallTable();
// Installs a table (null: the real one); returns the previous one.
const Direct3DCallTable* SetDirect3DCallTable(const Direct3DCallTable* table);

// Wrappers: each passes its arguments to the table entry and returns its
// result; the object wrappers take the object first. None checks for a missing device: callers test HasDirect3DDevice.
#define RIDOV_WRAPPER_DECL(R, name, params, args, method) \
  inline R name params { return Direct3DCalls->name args; }
RIDOV_D3D_OBJECT_CALLS(RIDOV_WRAPPER_DECL)
RIDOV_D3D_DEVICE_CALLS(RIDOV_WRAPPER_DECL)
#undef RIDOV_WRAPPER_DECL
#define RIDOV_WRAPPER_DECL(R, name, T, params, args) \
  inline R name(T* object, RIDOV_UNWRAP params) { return Direct3DCalls->name(object, RIDOV_UNWRAP args); }
#define RIDOV_WRAPPER_DECL0(R, name, T) \
  inline R name(T* object) { return Direct3DCalls->name(object); }
RIDOV_WRAPPER_DECL(HRESULT, GetTextureSurfaceLevel, IDirect3DTexture9, (UINT level, IDirect3DSurface9** surface),
                   (level, surface))
RIDOV_WRAPPER_DECL(HRESULT, LockTextureRect, IDirect3DTexture9,
                   (UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags), (level, locked, rect, flags))
RIDOV_WRAPPER_DECL(HRESULT, UnlockTextureRect, IDirect3DTexture9, (UINT level), (level))
RIDOV_WRAPPER_DECL(HRESULT, GetCubeTextureSurface, IDirect3DCubeTexture9,
                   (D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface), (face, level, surface))
RIDOV_WRAPPER_DECL(HRESULT, LockCubeTextureRect, IDirect3DCubeTexture9,
                   (D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags),
                   (face, level, locked, rect, flags))
RIDOV_WRAPPER_DECL(HRESULT, UnlockCubeTextureRect, IDirect3DCubeTexture9, (D3DCUBEMAP_FACES face, UINT level),
                   (face, level))
RIDOV_WRAPPER_DECL(HRESULT, GetSurfaceDesc, IDirect3DSurface9, (D3DSURFACE_DESC * desc), (desc))
RIDOV_WRAPPER_DECL(HRESULT, LockSurfaceRect, IDirect3DSurface9,
                   (D3DLOCKED_RECT * locked, const RECT* rect, DWORD flags), (locked, rect, flags))
RIDOV_WRAPPER_DECL0(HRESULT, UnlockSurfaceRect, IDirect3DSurface9)
RIDOV_WRAPPER_DECL(HRESULT, PresentSwapChain, IDirect3DSwapChain9,
                   (const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty, DWORD flags),
                   (source, dest, window, dirty, flags))
RIDOV_WRAPPER_DECL(HRESULT, LockBuffer, IDirect3DResource9, (UINT offset, UINT size, void** data, DWORD flags),
                   (offset, size, data, flags))
RIDOV_WRAPPER_DECL0(HRESULT, UnlockBuffer, IDirect3DResource9)
RIDOV_WRAPPER_DECL(HRESULT, LockVolumeBox, IDirect3DVolumeTexture9,
                   (UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags), (level, locked, box, flags))
RIDOV_WRAPPER_DECL(HRESULT, UnlockVolumeBox, IDirect3DVolumeTexture9, (UINT level), (level))
RIDOV_WRAPPER_DECL0(ULONG, ReleaseComObject, IUnknown)
#undef RIDOV_WRAPPER_DECL
#undef RIDOV_WRAPPER_DECL0

// 0 for D3D_OK, 1 for any other code (lost, not reset, driver error).
int TestDeviceCooperativeLevel();

// Queries: 1 when the object exists.
int HasDirect3DObject();
int HasDirect3D9Ex();
int HasDirect3DDevice();
// Releases swap chain 0 and the device; 0.
void ReleaseDirect3DDevice();

// Lowers *count until the adapter supports that multisample count for the
// format and for D16 in the current window mode; *quality becomes at most
// the smaller quality count - 1. 0, or -1 with failFast on the first refusal.
int FindSupportedMultiSampleType(D3DFORMAT format, D3DMULTISAMPLE_TYPE* count, DWORD* quality, int failFast);

// Main-thread pairs: with fromWorker 0 the wrapper runs at once; otherwise
// the call is posted to the main thread and its result returned.
ULONG ReleaseComObjectOnMainThread(IUnknown* object, int fromWorker);
// A render-target or depth-stencil surface to make (flag: lockable for a
// render target, discard for a depth-stencil surface).
struct DeviceSurfaceDesc {
  UINT width, height;
  D3DFORMAT format;
  D3DMULTISAMPLE_TYPE samples;
  DWORD quality;
  BOOL flag;
};
// A texture to make (a cube texture: width is the edge, height unused).
struct DeviceTextureDesc {
  UINT width, height, levels;
  DWORD usage;
  D3DFORMAT format;
  D3DPOOL pool;
};
HRESULT CreateDeviceRenderTargetOnMainThread(const DeviceSurfaceDesc& desc, IDirect3DSurface9** surface,
                                             int fromWorker);
HRESULT CreateDeviceDepthStencilSurfaceOnMainThread(const DeviceSurfaceDesc& desc, IDirect3DSurface9** surface,
                                                    int fromWorker);
HRESULT CreateDeviceTextureOnMainThread(const DeviceTextureDesc& desc, IDirect3DTexture9** texture, int fromWorker);
HRESULT CreateDeviceCubeTextureOnMainThread(const DeviceTextureDesc& desc, IDirect3DCubeTexture9** texture,
                                            int fromWorker);
HRESULT ColorFillDeviceSurfaceOnMainThread(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color,
                                           int fromWorker);
HRESULT CreateDeviceOffscreenPlainSurfaceOnMainThread(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                      IDirect3DSurface9** surface, HANDLE* shared, int fromWorker);
HRESULT UpdateDeviceSurfaceOnMainThread(IDirect3DSurface9* source, const RECT* rect, IDirect3DSurface9* dest,
                                        const POINT* point, int fromWorker);
HRESULT UpdateDeviceTextureOnMainThread(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest, int fromWorker);
HRESULT CreateDeviceVertexShaderOnMainThread(const DWORD* code, IDirect3DVertexShader9** shader, int fromWorker);
HRESULT CreateDevicePixelShaderOnMainThread(const DWORD* code, IDirect3DPixelShader9** shader, int fromWorker);
// -1 without a device (no call made).
HRESULT CreateDeviceVertexBufferOnMainThread(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                             IDirect3DVertexBuffer9** buffer, HANDLE* shared, int fromWorker);
HRESULT CreateDeviceIndexBufferOnMainThread(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DIndexBuffer9** buffer, HANDLE* shared, int fromWorker);
HRESULT GetTextureSurfaceLevelOnMainThread(IDirect3DTexture9* texture, UINT level, IDirect3DSurface9** surface,
                                           int fromWorker);
HRESULT LockTextureRectOnMainThread(IDirect3DTexture9* texture, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                    DWORD flags, int fromWorker);
HRESULT UnlockTextureRectOnMainThread(IDirect3DTexture9* texture, UINT level, int fromWorker);
HRESULT GetCubeTextureSurfaceOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                          IDirect3DSurface9** surface, int fromWorker);
HRESULT LockCubeTextureRectOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                        D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, int fromWorker);
HRESULT UnlockCubeTextureRectOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                          int fromWorker);
HRESULT LockSurfaceRectOnMainThread(IDirect3DSurface9* surface, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags,
                                    int fromWorker);
HRESULT UnlockSurfaceRectOnMainThread(IDirect3DSurface9* surface, int fromWorker);
HRESULT LockBufferOnMainThread(IDirect3DResource9* buffer, UINT offset, UINT size, void** data, DWORD flags,
                               int fromWorker);
HRESULT UnlockBufferOnMainThread(IDirect3DResource9* buffer, int fromWorker);

// ---------------------------------------------------------------------------
// Device-layer state.

struct DeviceLayerState {
  HMODULE d3d9;
  IDirectDraw7* directDraw;
  IDirect3D9* direct3D;
  void* direct3DEx;  // never created: the Ex route is switched off
  IDirect3DDevice9* device;
  IDirect3DSwapChain9* swapChain;
  IDirect3DSurface9* backBuffer;
  IDirect3DSurface9* subBackBuffer;
  IDirect3DSurface9* depthBuffer;
  int hardware;  // 1: Direct3D rendering, 0: software screen
  int hardwareVertexProcessing;
  DWORD vertexShaderVersion;  // from the adapter caps at device creation
  int sceneBegun;
  int displayModeChanged;
  int64_t refreshPeriod;  // microseconds, -1 unknown
  int64_t lastVerticalBlank;
  int endRequest;
  int dialogBoxMode;
  int asyncLoad;
  int multiSampleType;
  int multiSampleQuality;
  int depthBufferWidth, depthBufferHeight;
  int userDepthBufferSize, userDepthWidth, userDepthHeight;  // user-set Z size
  int userDepthBitsSet, userDepthBits;                       // user-set Z depth
  int presenting;
  RECT lastSource, lastDest;
};
extern DeviceLayerState DeviceLayer;

// Screen settings.
struct ScreenSettings {
  int width, height;          // 0: unset (640 x 480)
  int drawWidth, drawHeight;  // drawing size
  int colorBits;              // 0: unset (16)
  int refreshRate;            // 0: default
  int software;               // 1: software rendering chosen
  int emulate320x240;         // SetEmulate320x240
  int autoEmulate320x240;     // set by start-up / screen-mode change
  int emulationActive;
  int presentImmediately;  // non-zero: no vertical-blank wait
  int background[3];       // r, g, b
  int modeChanging;
  int graphicsUp;  // the graphics system is running
};
extern ScreenSettings Screen;

// The software screen as the GDI present reads it; set by whoever makes the
// screen memory image. pixels null: no valid image.
struct SoftwareScreenView {
  const void* pixels;
  int pitch;  // bytes per row
  int bits;   // 16 or 32
  DWORD redMask, greenMask, blueMask;
};
void SetSoftwareScreenView(const SoftwareScreenView* view);  // null clears

// Device-format table and device capability flags.
struct DeviceFormatTable {
  int screen;
  int z16, z24, z32;
  int color16, color32;
  int alpha16, alpha32;
  int alphaTest16, alphaTest32;
  int dxt[5];
  int target16, target32, targetAlpha32;
  int abgrInt16, abgrFloat16, abgrFloat32;
  int oneInt8, oneInt16, oneFloat16, oneFloat32;
  int twoInt8, twoInt16, twoFloat16, twoFloat32;
  int defaultTarget, defaultAlphaTest;
};
extern DeviceFormatTable DeviceFormats;

struct DeviceCapsFlags {
  int maxRenderTargets;
  int textureStageTemp;
  int subtractBlendNative;
  int vertexShader2, pixelShader2, vertexShader3, pixelShader3;
  int powerOfTwoRequired;
  int nonPowerOfTwoConditional;
  int squareOnly;  // textures must be square (graphics split theirs into squares)
  int maxTextureWidth, maxTextureHeight, maxTextureSize;
  int maxPrimitiveCount;
  int maxVertexIndex;
  int useBackBufferLock;
  int noShaders;       // user setting: no programmable shaders
  int adapterSetting;  // user-chosen adapter (0: the default)
  DWORD vertexShaderVersion, pixelShaderVersion;
};
extern DeviceCapsFlags DeviceCaps;

// The D3DFMT_ name of a format ("D3DFMT_UNKNOWN" for one without a name).
const char* GetD3DFormatName(int format);
// Bytes per pixel of a screen format (0 for others).
int GetD3DFormatBytes(int format);

// ---------------------------------------------------------------------------
// Start and end.
int StartGraphicsSystem();
int EndGraphicsSystem();
int LoadD3D9Dll();
void FreeD3D9Dll();
int CreateDirectDrawObject();
void ReleaseDirectDrawObject();
IDirectDraw7* GetDirectDrawObject();
IDirectDraw7* GetDirectDrawObjectPointer();
int CreateDirect3D9();
void ReleaseDirect3D9Object();
int CreateDirect3DDevice9();
void MeasureRefreshPeriod();
void WaitVerticalBlankTimed();
void StartWindowTimer(int start);
void ClearEndRequestFlag();
void SetEndRequestFlag();
int GetEndRequestFlag();
void FatalErrorFormat(const char* format, ...);

// Device resources shared with the graphics-system start.
int CreateDepthBuffer();
int CreateSubBackBuffer();
void BeginDrawSceneOnce();
void EndDrawScene();

// Display modes.
int ChangeDisplayMode();
void BuildDisplayModeList(int** list, int* count);
void FreeDisplayModeList();

// Probe.
int ProbeDeviceCapsAndFormats();

// Present.
int PresentSoftwareScreen(const RECT* update);
int PresentScreen();
int GetPresentingFlag();  // 1 while a present runs
int UseSubBackBuffer();

// Screen settings.
int GetRefreshRateSetting();
// Any of the 320 x 240 switches: SetEmulate320x240, start-up's, the window layer's.
int IsScreenEmulationOn();

#endif  // VUVIDEREZA_DEVICE_H
