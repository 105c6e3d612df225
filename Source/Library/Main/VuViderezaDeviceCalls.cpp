// Device call table: the real table over the Direct3D 9, DirectDraw 7 and
// display-settings interfaces, the table switch, the device queries, the
// multisample search and the main-thread pairs that loading workers use.
// Threads: the wrappers run on the main thread; a pair called with its
// from-worker flag set posts a request to the main thread and blocks the
// worker until the main thread has made the call (DiDAridIrer).
// Platform: IDirect3D9, IDirect3DDevice9 and its resources, IDirectDraw7,
// LoadLibraryA / GetProcAddress / FreeLibrary, Change/EnumDisplaySettingsA.
#include "VuViderezaDevice.h"

#include <ddraw.h>

#include <type_traits>
#include <utility>

#include "DiDAridIrer.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"

namespace {

const char LOG_DEVICE_RELEASE_2[] = "Direct3DDevice9 の解放 2";

}  // namespace

int IsWindowedMode();

namespace {

IDirect3D9* D3D() { return DeviceLayer.direct3D; }
IDirect3DDevice9* Device() { return DeviceLayer.device; }

#define RIDOV_REAL_D3D(R, name, params, args, method) \
  R Real##name params { return D3D()->method args; }
#define RIDOV_REAL_DEVICE(R, name, params, args, method) \
  R Real##name params { return Device()->method args; }
RIDOV_D3D_OBJECT_CALLS(RIDOV_REAL_D3D)
RIDOV_D3D_DEVICE_CALLS(RIDOV_REAL_DEVICE)
#undef RIDOV_REAL_D3D
#undef RIDOV_REAL_DEVICE

HRESULT RealGetTextureSurfaceLevel(IDirect3DTexture9* t, UINT level, IDirect3DSurface9** s) {
  return t->GetSurfaceLevel(level, s);
}
HRESULT RealLockTextureRect(IDirect3DTexture9* t, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  return t->LockRect(level, locked, rect, flags);
}
HRESULT RealUnlockTextureRect(IDirect3DTexture9* t, UINT level) { return t->UnlockRect(level); }
HRESULT RealGetCubeTextureSurface(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** s) {
  return t->GetCubeMapSurface(face, level, s);
}
HRESULT RealLockCubeTextureRect(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked,
                                const RECT* rect, DWORD flags) {
  return t->LockRect(face, level, locked, rect, flags);
}
HRESULT RealUnlockCubeTextureRect(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level) {
  return t->UnlockRect(face, level);
}
HRESULT RealGetSurfaceDesc(IDirect3DSurface9* s, D3DSURFACE_DESC* desc) { return s->GetDesc(desc); }
HRESULT RealLockSurfaceRect(IDirect3DSurface9* s, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  return s->LockRect(locked, rect, flags);
}
HRESULT RealUnlockSurfaceRect(IDirect3DSurface9* s) { return s->UnlockRect(); }
HRESULT RealPresentSwapChain(IDirect3DSwapChain9* c, const RECT* source, const RECT* dest, HWND window,
                             const RGNDATA* dirty, DWORD flags) {
  return c->Present(source, dest, window, dirty, flags);
}
HRESULT RealLockBuffer(IDirect3DResource9* b, UINT offset, UINT size, void** data, DWORD flags) {
  if (b->GetType() == D3DRTYPE_INDEXBUFFER)
    return static_cast<IDirect3DIndexBuffer9*>(b)->Lock(offset, size, data, flags);
  return static_cast<IDirect3DVertexBuffer9*>(b)->Lock(offset, size, data, flags);
}
HRESULT RealUnlockBuffer(IDirect3DResource9* b) {
  if (b->GetType() == D3DRTYPE_INDEXBUFFER) return static_cast<IDirect3DIndexBuffer9*>(b)->Unlock();
  return static_cast<IDirect3DVertexBuffer9*>(b)->Unlock();
}
ULONG RealReleaseComObject(IUnknown* o) { return o->Release(); }

HMODULE RealLoadD3D9Library(const char* name) { return LoadLibraryA(name); }
FARPROC RealGetD3D9Entry(HMODULE module, const char* name) { return GetProcAddress(module, name); }
BOOL RealFreeD3D9Library(HMODULE module) { return FreeLibrary(module); }
HRESULT RealCreateDirectDraw7(IDirectDraw7** object) {
  return CreateComInstance(CLSID_DirectDraw7, nullptr, CLSCTX_ALL, IID_IDirectDraw7, reinterpret_cast<void**>(object),
                           0);
}
HRESULT RealInitializeDirectDraw(IDirectDraw7* dd) { return dd->Initialize(nullptr); }
HRESULT RealSetDirectDrawCooperativeLevel(IDirectDraw7* dd, HWND window, DWORD flags) {
  return dd->SetCooperativeLevel(window, flags);
}
HRESULT RealWaitForVerticalBlank(IDirectDraw7* dd, DWORD flags) { return dd->WaitForVerticalBlank(flags, nullptr); }
LONG RealChangeDisplaySettings(DEVMODEA* mode, DWORD flags) { return ChangeDisplaySettingsA(mode, flags); }
BOOL RealEnumDisplaySettings(DWORD index, DEVMODEA* mode) { return EnumDisplaySettingsA(nullptr, index, mode); }
HRESULT RealLockVolumeBox(IDirect3DVolumeTexture9* t, UINT level, D3DLOCKED_BOX* locked, const D3DBOX* box,
                          DWORD flags) {
  return t->LockBox(level, locked, box, flags);
}
HRESULT RealUnlockVolumeBox(IDirect3DVolumeTexture9* t, UINT level) { return t->UnlockBox(level); }
int64_t RealGetMicroseconds() { return GetMicrosecondCount(); }
void RealSleepMilliseconds(DWORD ms) { Sleep(ms); }

// clang-format off
const Direct3DCallTable RealTable = {
#define RIDOV_REAL_ENTRY(R, name, params, args, method) Real##name,
    RIDOV_D3D_OBJECT_CALLS(RIDOV_REAL_ENTRY) RIDOV_D3D_DEVICE_CALLS(RIDOV_REAL_ENTRY)
#undef RIDOV_REAL_ENTRY
    RealGetTextureSurfaceLevel, RealLockTextureRect, RealUnlockTextureRect,
    RealGetCubeTextureSurface, RealLockCubeTextureRect, RealUnlockCubeTextureRect,
    RealGetSurfaceDesc, RealLockSurfaceRect, RealUnlockSurfaceRect, RealPresentSwapChain,
    RealLockBuffer, RealUnlockBuffer, RealLockVolumeBox, RealUnlockVolumeBox, RealReleaseComObject,
    RealLoadD3D9Library, RealGetD3D9Entry, RealFreeD3D9Library,
    RealCreateDirectDraw7, RealInitializeDirectDraw, RealSetDirectDrawCooperativeLevel,
    RealWaitForVerticalBlank, RealChangeDisplaySettings, RealEnumDisplaySettings,
    RealGetMicroseconds, RealSleepMilliseconds,
};
// clang-format on

// Posting: every argument travels as one word of the request record.
template <typename T>
uintptr_t ToWord(T value) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<uintptr_t>(value);
  else return static_cast<uintptr_t>(value);
}
template <typename T>
T FromWord(uintptr_t word) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(word);
  else return static_cast<T>(word);
}

template <typename F>
struct Posting;
template <typename R, typename... A>
struct Posting<R (*)(A...)> {
  template <R (*Fn)(A...), size_t... I>
  static int Unpack(MainThreadRequest* request, std::index_sequence<I...>) {
    return static_cast<int>(Fn(FromWord<A>(request->params[I])...));
  }
  template <R (*Fn)(A...)>
  static int Handle(MainThreadRequest* request) {
    return Unpack<Fn>(request, std::index_sequence_for<A...>());
  }
  template <R (*Fn)(A...)>
  static R Call(int fromWorker, A... args) {
    if (!fromWorker) return Fn(args...);
    static_assert(sizeof...(A) <= MAIN_THREAD_REQUEST_PARAM_COUNT, "too many arguments");
    MainThreadRequest request = {};
    request.function = &Handle<Fn>;
    size_t i = 0;
    ((request.params[i++] = ToWord(args)), ...);
    return static_cast<R>(PostMainThreadRequest(&request));
  }
};
#define RIDOV_ON_MAIN_THREAD(fn, ...) Posting<decltype(&fn)>::Call<&fn>(fromWorker, __VA_ARGS__)

// Buffer creation makes no call without a device, whether posted or not.
HRESULT CreateVertexBufferIfDevice(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE* shared) {
  if (!HasDirect3DDevice()) return -1;
  return CreateDeviceVertexBuffer(length, usage, fvf, pool, buffer, shared);
}
HRESULT CreateIndexBufferIfDevice(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE* shared) {
  if (!HasDirect3DDevice()) return -1;
  return CreateDeviceIndexBuffer(length, usage, format, pool, buffer, shared);
}
ULONG ReleaseComObjectCall(IUnknown* object) { return ReleaseComObject(object); }
HRESULT GetTextureSurfaceLevelCall(IDirect3DTexture9* t, UINT level, IDirect3DSurface9** s) {
  return GetTextureSurfaceLevel(t, level, s);
}
HRESULT LockTextureRectCall(IDirect3DTexture9* t, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  return LockTextureRect(t, level, locked, rect, flags);
}
HRESULT UnlockTextureRectCall(IDirect3DTexture9* t, UINT level) { return UnlockTextureRect(t, level); }
HRESULT GetCubeTextureSurfaceCall(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** s) {
  return GetCubeTextureSurface(t, face, level, s);
}
HRESULT LockCubeTextureRectCall(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked,
                                const RECT* rect, DWORD flags) {
  return LockCubeTextureRect(t, face, level, locked, rect, flags);
}
HRESULT UnlockCubeTextureRectCall(IDirect3DCubeTexture9* t, D3DCUBEMAP_FACES face, UINT level) {
  return UnlockCubeTextureRect(t, face, level);
}
HRESULT LockSurfaceRectCall(IDirect3DSurface9* s, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
  return LockSurfaceRect(s, locked, rect, flags);
}
HRESULT UnlockSurfaceRectCall(IDirect3DSurface9* s) { return UnlockSurfaceRect(s); }
HRESULT LockBufferCall(IDirect3DResource9* b, UINT offset, UINT size, void** data, DWORD flags) {
  return LockBuffer(b, offset, size, data, flags);
}
HRESULT UnlockBufferCall(IDirect3DResource9* b) { return UnlockBuffer(b); }

}  // namespace

const Direct3DCallTable* Direct3DCalls = &RealTable;

const Direct3DCallTable* GetRealDirect3DCallTable() { return &RealTable; }

const Direct3DCallTable* SetDirect3DCallTable(const Direct3DCallTable* table) {
  const Direct3DCallTable* previous = Direct3DCalls;
  Direct3DCalls = table ? table : &RealTable;
  return previous;
}

int TestDeviceCooperativeLevel() { return TestDeviceCooperativeLevelRaw() == D3D_OK ? 0 : 1; }

int HasDirect3DObject() { return DeviceLayer.direct3D != nullptr ? 1 : 0; }
int HasDirect3D9Ex() { return DeviceLayer.direct3DEx != nullptr ? 1 : 0; }
int HasDirect3DDevice() { return DeviceLayer.device != nullptr ? 1 : 0; }

void ReleaseDirect3DDevice() {
  if (DeviceLayer.swapChain) {
    ReleaseComObject(DeviceLayer.swapChain);
    DeviceLayer.swapChain = nullptr;
  }
  if (DeviceLayer.device) {
    LogPrintf(LOG_DEVICE_RELEASE_2);
    ReleaseComObject(DeviceLayer.device);
    DeviceLayer.device = nullptr;
  }
}

int FindSupportedMultiSampleType(D3DFORMAT format, D3DMULTISAMPLE_TYPE* count, DWORD* quality, int failFast) {
  const BOOL windowed = IsWindowedMode() ? TRUE : FALSE;
  DWORD levels[2] = {0, 0};
  const D3DFORMAT formats[2] = {format, D3DFMT_D16};
  for (int i = 0; i < 2; i++) {
    while (CheckDeviceMultiSampleTypeOfDirect3D(0, D3DDEVTYPE_HAL, formats[i], windowed, *count, &levels[i]) !=
           D3D_OK) {
      if (failFast) {
        *quality = 0;
        return -1;
      }
      *count = static_cast<D3DMULTISAMPLE_TYPE>(*count - 1);
      if (*count <= 0) {
        *count = D3DMULTISAMPLE_NONE;
        *quality = 0;
        return 0;
      }
    }
  }
  const DWORD fewest = levels[0] < levels[1] ? levels[0] : levels[1];
  const DWORD limit = fewest > 0 ? fewest - 1 : 0;
  if (*quality > limit) *quality = limit;
  return 0;
}

ULONG ReleaseComObjectOnMainThread(IUnknown* object, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(ReleaseComObjectCall, object);
}
HRESULT CreateDeviceRenderTargetOnMainThread(const DeviceSurfaceDesc& desc, IDirect3DSurface9** surface,
                                             int fromWorker) {
  HANDLE* const shared = nullptr;
  return RIDOV_ON_MAIN_THREAD(CreateDeviceRenderTarget, desc.width, desc.height, desc.format, desc.samples,
                              desc.quality, desc.flag, surface, shared);
}
HRESULT CreateDeviceDepthStencilSurfaceOnMainThread(const DeviceSurfaceDesc& desc, IDirect3DSurface9** surface,
                                                    int fromWorker) {
  HANDLE* const shared = nullptr;
  return RIDOV_ON_MAIN_THREAD(CreateDeviceDepthStencilSurface, desc.width, desc.height, desc.format, desc.samples,
                              desc.quality, desc.flag, surface, shared);
}
HRESULT CreateDeviceTextureOnMainThread(const DeviceTextureDesc& desc, IDirect3DTexture9** texture, int fromWorker) {
  HANDLE* const shared = nullptr;
  return RIDOV_ON_MAIN_THREAD(CreateDeviceTexture, desc.width, desc.height, desc.levels, desc.usage, desc.format,
                              desc.pool, texture, shared);
}
HRESULT CreateDeviceCubeTextureOnMainThread(const DeviceTextureDesc& desc, IDirect3DCubeTexture9** texture,
                                            int fromWorker) {
  HANDLE* const shared = nullptr;
  return RIDOV_ON_MAIN_THREAD(CreateDeviceCubeTexture, desc.width, desc.levels, desc.usage, desc.format, desc.pool,
                              texture, shared);
}
HRESULT ColorFillDeviceSurfaceOnMainThread(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color,
                                           int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(ColorFillDeviceSurface, surface, rect, color);
}
HRESULT CreateDeviceOffscreenPlainSurfaceOnMainThread(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                      IDirect3DSurface9** surface, HANDLE* shared, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(CreateDeviceOffscreenPlainSurface, width, height, format, pool, surface, shared);
}
HRESULT UpdateDeviceSurfaceOnMainThread(IDirect3DSurface9* source, const RECT* rect, IDirect3DSurface9* dest,
                                        const POINT* point, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UpdateDeviceSurface, source, rect, dest, point);
}
HRESULT UpdateDeviceTextureOnMainThread(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UpdateDeviceTexture, source, dest);
}
HRESULT CreateDeviceVertexShaderOnMainThread(const DWORD* code, IDirect3DVertexShader9** shader, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(CreateDeviceVertexShader, code, shader);
}
HRESULT CreateDevicePixelShaderOnMainThread(const DWORD* code, IDirect3DPixelShader9** shader, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(CreateDevicePixelShader, code, shader);
}
HRESULT CreateDeviceVertexBufferOnMainThread(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                             IDirect3DVertexBuffer9** buffer, HANDLE* shared, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(CreateVertexBufferIfDevice, length, usage, fvf, pool, buffer, shared);
}
HRESULT CreateDeviceIndexBufferOnMainThread(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DIndexBuffer9** buffer, HANDLE* shared, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(CreateIndexBufferIfDevice, length, usage, format, pool, buffer, shared);
}
HRESULT GetTextureSurfaceLevelOnMainThread(IDirect3DTexture9* texture, UINT level, IDirect3DSurface9** surface,
                                           int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(GetTextureSurfaceLevelCall, texture, level, surface);
}
HRESULT LockTextureRectOnMainThread(IDirect3DTexture9* texture, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                    DWORD flags, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(LockTextureRectCall, texture, level, locked, rect, flags);
}
HRESULT UnlockTextureRectOnMainThread(IDirect3DTexture9* texture, UINT level, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UnlockTextureRectCall, texture, level);
}
HRESULT GetCubeTextureSurfaceOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                          IDirect3DSurface9** surface, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(GetCubeTextureSurfaceCall, texture, face, level, surface);
}
HRESULT LockCubeTextureRectOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                        D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(LockCubeTextureRectCall, texture, face, level, locked, rect, flags);
}
HRESULT UnlockCubeTextureRectOnMainThread(IDirect3DCubeTexture9* texture, D3DCUBEMAP_FACES face, UINT level,
                                          int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UnlockCubeTextureRectCall, texture, face, level);
}
HRESULT LockSurfaceRectOnMainThread(IDirect3DSurface9* surface, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags,
                                    int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(LockSurfaceRectCall, surface, locked, rect, flags);
}
HRESULT UnlockSurfaceRectOnMainThread(IDirect3DSurface9* surface, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UnlockSurfaceRectCall, surface);
}
HRESULT LockBufferOnMainThread(IDirect3DResource9* buffer, UINT offset, UINT size, void** data, DWORD flags,
                               int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(LockBufferCall, buffer, offset, size, data, flags);
}
HRESULT UnlockBufferOnMainThread(IDirect3DResource9* buffer, int fromWorker) {
  return RIDOV_ON_MAIN_THREAD(UnlockBufferCall, buffer);
}
