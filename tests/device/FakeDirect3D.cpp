#include "FakeDirect3D.h"

#include <ddraw.h>
#include <stdio.h>

#include <vector>

namespace test_support {

FakeDirect3D* FakeDirect3D::current = nullptr;

namespace {

FakeDirect3D& F() { return *FakeDirect3D::current; }

char Objects[64];
int NextObject = 8;
template <typename T>
T* Dummy() {
  if (NextObject >= static_cast<int>(sizeof(Objects))) NextObject = 8;
  return reinterpret_cast<T*>(&Objects[NextObject++]);
}
template <typename T>
T* Fixed(int index) {
  return reinterpret_cast<T*>(&Objects[index]);
}

std::vector<unsigned char> Pixels(256 * 256 * 4);

std::string Rect(const RECT* r) {
  if (!r) return "null";
  char text[64];
  snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", r->left, r->top, r->right, r->bottom);
  return text;
}

void Log(const std::string& text) { F().calls.push_back(text); }

IDirect3D9* WINAPI FakeCreate9(UINT sdk) {
  Log("Direct3DCreate9(" + std::to_string(sdk) + ")");
  return Fixed<IDirect3D9>(1);
}

bool Refused(int format) { return F().refusedFormats.count(format) != 0; }

}  // namespace

void ResetDeviceLayer() {
  DeviceLayer = {};
  Screen = {};
  DeviceFormats = {};
  DeviceCaps = {};
  FreeDisplayModeList();
  SetSoftwareScreenView(nullptr);
}

FakeDirect3D::FakeDirect3D() {
  current = this;
  ResetDeviceLayer();
  table = *GetRealDirect3DCallTable();
  Direct3DCallTable& t = table;
  t.LoadD3D9Library = [](const char* name) -> HMODULE {
    Log(std::string("LoadLibrary(") + name + ")");
    return F().d3d9Missing ? nullptr : Fixed<HINSTANCE__>(2);
  };
  t.GetD3D9Entry = [](HMODULE, const char* name) -> FARPROC {
    if (F().createEntryMissing) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeCreate9));
  };
  t.FreeD3D9Library = [](HMODULE) -> BOOL {
    Log("FreeLibrary");
    return TRUE;
  };
  t.CreateDirectDraw7 = [](IDirectDraw7** object) -> HRESULT {
    Log("CreateDirectDraw7");
    if (F().directDrawFailures > 0) {
      F().directDrawFailures--;
      *object = nullptr;
      return E_FAIL;
    }
    *object = Fixed<IDirectDraw7>(3);
    return S_OK;
  };
  t.InitializeDirectDraw = [](IDirectDraw7*) -> HRESULT { return DD_OK; };
  t.SetDirectDrawCooperativeLevel = [](IDirectDraw7*, HWND window, DWORD flags) -> HRESULT {
    F().directDrawLevels.emplace_back(window, flags);
    return DD_OK;
  };
  t.WaitForVerticalBlank = [](IDirectDraw7*, DWORD) -> HRESULT {
    FakeDirect3D& f = F();
    Log("WaitForVerticalBlank@" + std::to_string(f.clock));
    if (f.waitBlankFails) return DDERR_GENERIC;
    if (f.waitBlankReturnsAtOnce) return DD_OK;
    static size_t index = 0;
    while (f.nextBlank <= f.clock) f.nextBlank += f.blankIntervals[index++ % f.blankIntervals.size()];
    f.clock = f.nextBlank;
    return DD_OK;
  };
  t.ChangeDisplaySettings = [](DEVMODEA* mode, DWORD flags) -> LONG {
    if (!mode) {
      Log("RestoreDisplay");
      return DISP_CHANGE_SUCCESSFUL;
    }
    F().modeChanges.push_back(*mode);
    Log("ChangeDisplaySettings(" + std::to_string(mode->dmPelsWidth) + "x" + std::to_string(mode->dmPelsHeight) + "x" +
        std::to_string(mode->dmBitsPerPel) + "@" + std::to_string(mode->dmDisplayFrequency) + "," +
        std::to_string(flags) + ")");
    const bool ok = !F().acceptMode || F().acceptMode(mode, flags);
    return ok ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_BADMODE;
  };
  t.EnumDisplaySettings = [](DWORD index, DEVMODEA* mode) -> BOOL {
    if (index >= F().displayModes.size()) return FALSE;
    *mode = F().displayModes[index];
    return TRUE;
  };
  t.GetMicroseconds = []() -> int64_t { return F().clock; };
  t.SleepMilliseconds = [](DWORD ms) {
    Log("Sleep(" + std::to_string(ms) + ")");
    F().clock += static_cast<int64_t>(ms) * 1000;
  };

  t.GetAdapterIdentifierOfDirect3D = [](UINT, DWORD, D3DADAPTER_IDENTIFIER9* id) -> HRESULT {
    *id = {};
    snprintf(id->Driver, sizeof(id->Driver), "fake.dll");
    snprintf(id->Description, sizeof(id->Description), "Fake adapter");
    return D3D_OK;
  };
  t.CheckDeviceFormatOfDirect3D = [](UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT format) -> HRESULT {
    return Refused(format) ? D3DERR_NOTAVAILABLE : D3D_OK;
  };
  t.CheckDepthStencilMatchOfDirect3D = [](UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT depth) -> HRESULT {
    return Refused(depth) ? D3DERR_NOTAVAILABLE : D3D_OK;
  };
  auto caps = [](D3DCAPS9* caps) -> HRESULT {
    *caps = {};
    caps->VertexShaderVersion = F().vertexShaderVersion;
    caps->PixelShaderVersion = F().pixelShaderVersion;
    caps->NumSimultaneousRTs = 4;
    caps->MaxTextureWidth = 4096;
    caps->MaxTextureHeight = 2048;
    caps->MaxPrimitiveCount = 65535;
    caps->MaxVertexIndex = 0xFFFFFF;
    return D3D_OK;
  };
  t.GetDeviceCapsOfDirect3D = [](UINT, D3DDEVTYPE, D3DCAPS9* c) -> HRESULT {
    return F().table.GetDeviceCapsOfDevice(c);
  };
  t.GetDeviceCapsOfDevice = caps;
  t.GetAdapterDisplayModeOfDirect3D = [](UINT, D3DDISPLAYMODE* mode) -> HRESULT {
    *mode = {};
    mode->Width = 1024;
    mode->Height = 768;
    mode->Format = F().displayFormat;
    return D3D_OK;
  };
  t.GetAdapterModeCountOfDirect3D = [](UINT, D3DFORMAT format) -> UINT {
    return format == D3DFMT_R5G6B5 ? F().r5g6b5Modes : 1;
  };
  t.CheckDeviceMultiSampleTypeOfDirect3D = [](UINT, D3DDEVTYPE, D3DFORMAT format, BOOL, D3DMULTISAMPLE_TYPE samples,
                                              DWORD* quality) -> HRESULT {
    Log("CheckDeviceMultiSampleType(" + std::to_string(format) + "," + std::to_string(samples) + ")");
    if (samples > F().maxMultiSamples) return D3DERR_NOTAVAILABLE;
    if (quality) *quality = F().multiSampleLevels[format == D3DFMT_D16 ? 1 : 0];
    return D3D_OK;
  };
  t.CreateDeviceOfDirect3D = [](UINT, D3DDEVTYPE, HWND, DWORD flags, D3DPRESENT_PARAMETERS* params,
                                IDirect3DDevice9** device) -> HRESULT {
    FakeDirect3D& f = F();
    f.deviceParams.push_back(*params);
    f.deviceFlags.push_back(flags);
    Log(flags & D3DCREATE_HARDWARE_VERTEXPROCESSING ? "CreateDevice(hw)" : "CreateDevice(sw)");
    HRESULT result = D3D_OK;
    if (!f.createDeviceResults.empty()) {
      result = f.createDeviceResults.front();
      f.createDeviceResults.pop_front();
    }
    *device = result == D3D_OK ? Fixed<IDirect3DDevice9>(4) : nullptr;
    return result;
  };
  t.TestDeviceCooperativeLevelRaw = []() -> HRESULT { return F().cooperativeLevel; };
  t.GetDeviceSwapChain = [](UINT, IDirect3DSwapChain9** chain) -> HRESULT {
    *chain = Fixed<IDirect3DSwapChain9>(5);
    return D3D_OK;
  };
  t.PresentDevice = [](const RECT*, const RECT*, HWND, const RGNDATA*) -> HRESULT {
    Log("PresentDevice");
    return D3D_OK;
  };
  t.GetDeviceBackBuffer = [](UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** s) -> HRESULT {
    *s = Fixed<IDirect3DSurface9>(6);
    return D3D_OK;
  };
  t.SetDeviceDialogBoxModeRaw = [](BOOL on) -> HRESULT {
    Log(on ? "SetDialogBoxMode(1)" : "SetDialogBoxMode(0)");
    return D3D_OK;
  };
  t.CreateDeviceTexture = [](UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** tex, HANDLE*) -> HRESULT {
    F().textureThread = GetCurrentThreadId();
    *tex = Dummy<IDirect3DTexture9>();
    return F().textureResult ? F().textureResult() : D3D_OK;
  };
  t.CreateDeviceVertexBuffer = [](UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** b, HANDLE*) -> HRESULT {
    Log("CreateVertexBuffer");
    *b = Dummy<IDirect3DVertexBuffer9>();
    return D3D_OK;
  };
  t.CreateDeviceRenderTarget = [](UINT w, UINT h, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9** s,
                                  HANDLE*) -> HRESULT {
    Log("CreateRenderTarget(" + std::to_string(w) + "x" + std::to_string(h) + ")");
    *s = Dummy<IDirect3DSurface9>();
    return D3D_OK;
  };
  t.CreateDeviceDepthStencilSurface = [](UINT w, UINT h, D3DFORMAT format, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                         IDirect3DSurface9** s, HANDLE*) -> HRESULT {
    Log("CreateDepthStencilSurface(" + std::to_string(w) + "x" + std::to_string(h) + "," + GetD3DFormatName(format) +
        ")");
    *s = Dummy<IDirect3DSurface9>();
    return D3D_OK;
  };
  t.CreateDeviceOffscreenPlainSurface = [](UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9** s, HANDLE*) -> HRESULT {
    *s = Dummy<IDirect3DSurface9>();
    return D3D_OK;
  };
  t.GetDeviceRenderTargetData = [](IDirect3DSurface9*, IDirect3DSurface9*) -> HRESULT { return D3D_OK; };
  t.StretchDeviceRect = [](IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*,
                           D3DTEXTUREFILTERTYPE) -> HRESULT {
    Log("StretchRect");
    return D3D_OK;
  };
  t.SetDeviceRenderTarget = [](DWORD, IDirect3DSurface9*) -> HRESULT { return D3D_OK; };
  t.GetSurfaceDesc = [](IDirect3DSurface9*, D3DSURFACE_DESC* desc) -> HRESULT {
    *desc = D3DSURFACE_DESC{};
    desc->Format = D3DFMT_X8R8G8B8;
    desc->Width = static_cast<UINT>(Screen.width);
    desc->Height = static_cast<UINT>(Screen.height);
    return D3D_OK;
  };
  t.SetDeviceTexture = [](DWORD stage, IDirect3DBaseTexture9*) -> HRESULT {
    Log("SetTexture(" + std::to_string(stage) + ")");
    return D3D_OK;
  };
  t.DrawDevicePrimitiveUP = [](D3DPRIMITIVETYPE, UINT count, const void*, UINT stride) -> HRESULT {
    Log("DrawUP(" + std::to_string(count) + "," + std::to_string(stride) + ")");
    return D3D_OK;
  };
  t.SetDeviceDepthStencilSurface = [](IDirect3DSurface9*) -> HRESULT { return D3D_OK; };
  t.GetDeviceDepthStencilSurface = [](IDirect3DSurface9** surface) -> HRESULT {
    *surface = nullptr;
    return D3DERR_NOTFOUND;
  };
  t.BeginDeviceScene = []() -> HRESULT {
    Log("BeginScene");
    return D3D_OK;
  };
  t.EndDeviceScene = []() -> HRESULT {
    Log("EndScene");
    return D3D_OK;
  };
  t.ClearDevice = [](DWORD, const D3DRECT*, DWORD flags, D3DCOLOR color, float, DWORD) -> HRESULT {
    char text[48];
    snprintf(text, sizeof(text), "Clear(%lu,%08lx)", flags, color);
    Log(text);
    return D3D_OK;
  };
  t.LockSurfaceRect = [](IDirect3DSurface9*, D3DLOCKED_RECT* locked, const RECT*, DWORD) -> HRESULT {
    locked->pBits = Pixels.data();
    locked->Pitch = 1024;
    return D3D_OK;
  };
  t.UnlockSurfaceRect = [](IDirect3DSurface9*) -> HRESULT { return D3D_OK; };
  // The fake's textures have no surfaces: graphics made on it fail softly.
  t.GetTextureSurfaceLevel = [](IDirect3DTexture9*, UINT, IDirect3DSurface9** s) -> HRESULT {
    *s = nullptr;
    return D3DERR_INVALIDCALL;
  };
  t.LockTextureRect = [](IDirect3DTexture9*, UINT, D3DLOCKED_RECT*, const RECT*, DWORD) -> HRESULT {
    return D3DERR_INVALIDCALL;
  };
  t.UnlockTextureRect = [](IDirect3DTexture9*, UINT) -> HRESULT { return D3D_OK; };
  t.PresentSwapChain = [](IDirect3DSwapChain9*, const RECT* source, const RECT* dest, HWND, const RGNDATA*,
                          DWORD) -> HRESULT {
    Log("Present(" + Rect(source) + " -> " + Rect(dest) + ")");
    return F().presentResult;
  };
  // Draw-state, shader and resource calls of the graphics layer, logged as
  // "Name(args)".
  t.SetDeviceRenderState = [](D3DRENDERSTATETYPE state, DWORD value) -> HRESULT {
    Log("RS(" + std::to_string(state) + "," + std::to_string(value) + ")");
    return D3D_OK;
  };
  t.SetDeviceSamplerState = [](DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) -> HRESULT {
    Log("SS(" + std::to_string(sampler) + "," + std::to_string(type) + "," + std::to_string(value) + ")");
    return D3D_OK;
  };
  t.SetDeviceTextureStageState = [](DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) -> HRESULT {
    Log("TSS(" + std::to_string(stage) + "," + std::to_string(type) + "," + std::to_string(value) + ")");
    return D3D_OK;
  };
  t.SetDeviceViewport = [](const D3DVIEWPORT9* v) -> HRESULT {
    Log("Viewport(" + std::to_string(v->X) + "," + std::to_string(v->Y) + "," + std::to_string(v->Width) + "," +
        std::to_string(v->Height) + ")");
    return D3D_OK;
  };
  t.SetDeviceScissorRect = [](const RECT* r) -> HRESULT {
    Log("Scissor(" + Rect(r) + ")");
    return D3D_OK;
  };
  t.SetDeviceMaterial = [](const D3DMATERIAL9*) -> HRESULT {
    Log("SetMaterial");
    return D3D_OK;
  };
  t.GetDeviceMaterial = [](D3DMATERIAL9* m) -> HRESULT {
    *m = D3DMATERIAL9{};
    return D3D_OK;
  };
  t.SetDeviceTransform = [](D3DTRANSFORMSTATETYPE state, const D3DMATRIX*) -> HRESULT {
    Log("SetTransform(" + std::to_string(state) + ")");
    return D3D_OK;
  };
  t.SetDeviceLightRaw = [](DWORD index, const D3DLIGHT9* light) -> HRESULT {
    Log("SetLight(" + std::to_string(index) + "," + std::to_string(light->Type) + ")");
    return D3D_OK;
  };
  t.EnableDeviceLight = [](DWORD index, BOOL on) -> HRESULT {
    Log("LightEnable(" + std::to_string(index) + "," + std::to_string(on) + ")");
    return D3D_OK;
  };
  t.SetDeviceFVF = [](DWORD fvf) -> HRESULT {
    Log("SetFVF(" + std::to_string(fvf) + ")");
    return D3D_OK;
  };
  t.DrawDeviceIndexedPrimitiveUP = [](D3DPRIMITIVETYPE, UINT, UINT, UINT count, const void*, D3DFORMAT, const void*,
                                      UINT stride) -> HRESULT {
    Log("DrawIndexedUP(" + std::to_string(count) + "," + std::to_string(stride) + ")");
    return D3D_OK;
  };
  t.CreateDeviceVertexShader = [](const DWORD*, IDirect3DVertexShader9** shader) -> HRESULT {
    Log("CreateVertexShader");
    *shader = Dummy<IDirect3DVertexShader9>();
    return F().shaderResult;
  };
  t.CreateDevicePixelShader = [](const DWORD*, IDirect3DPixelShader9** shader) -> HRESULT {
    Log("CreatePixelShader");
    *shader = Dummy<IDirect3DPixelShader9>();
    return F().shaderResult;
  };
  t.SetDeviceVertexShader = [](IDirect3DVertexShader9*) -> HRESULT { return D3D_OK; };
  t.SetDevicePixelShader = [](IDirect3DPixelShader9*) -> HRESULT { return D3D_OK; };
  t.SetDeviceVertexShaderConstantF = [](UINT start, const float*, UINT count) -> HRESULT {
    Log("VSConstF(" + std::to_string(start) + "," + std::to_string(count) + ")");
    return D3D_OK;
  };
  t.SetDeviceVertexShaderConstantI = [](UINT start, const int*, UINT count) -> HRESULT {
    Log("VSConstI(" + std::to_string(start) + "," + std::to_string(count) + ")");
    return D3D_OK;
  };
  t.SetDeviceVertexShaderConstantB = [](UINT start, const BOOL*, UINT count) -> HRESULT {
    Log("VSConstB(" + std::to_string(start) + "," + std::to_string(count) + ")");
    return D3D_OK;
  };
  t.SetDevicePixelShaderConstantF = [](UINT start, const float* data, UINT count) -> HRESULT {
    Log("PSConstF(" + std::to_string(start) + "," + std::to_string(count) + ")");
    F().lastPixelConstants.assign(data, data + 4 * count);
    return D3D_OK;
  };
  t.SetDevicePixelShaderConstantI = [](UINT start, const int*, UINT count) -> HRESULT {
    Log("PSConstI(" + std::to_string(start) + "," + std::to_string(count) + ")");
    return D3D_OK;
  };
  t.SetDevicePixelShaderConstantB = [](UINT start, const BOOL*, UINT count) -> HRESULT {
    Log("PSConstB(" + std::to_string(start) + "," + std::to_string(count) + ")");
    return D3D_OK;
  };
  t.CreateDeviceVertexDeclaration = [](const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9** d) -> HRESULT {
    *d = Dummy<IDirect3DVertexDeclaration9>();
    return D3D_OK;
  };
  t.SetDeviceVertexDeclaration = [](IDirect3DVertexDeclaration9*) -> HRESULT { return D3D_OK; };
  t.CreateDeviceVolumeTexture = [](UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL pool,
                                   IDirect3DVolumeTexture9** texture, HANDLE*) -> HRESULT {
    Log("CreateVolumeTexture(" + std::to_string(pool) + ")");
    *texture = Dummy<IDirect3DVolumeTexture9>();
    return D3D_OK;
  };
  t.LockVolumeBox = [](IDirect3DVolumeTexture9*, UINT, D3DLOCKED_BOX* locked, const D3DBOX*, DWORD) -> HRESULT {
    static std::vector<unsigned char> volume(128 * 128 * 128 * 4);
    locked->pBits = volume.data();
    locked->RowPitch = 128 * 4;
    locked->SlicePitch = 128 * 128 * 4;
    return D3D_OK;
  };
  t.UnlockVolumeBox = [](IDirect3DVolumeTexture9*, UINT) -> HRESULT { return D3D_OK; };
  t.UpdateDeviceTexture = [](IDirect3DBaseTexture9*, IDirect3DBaseTexture9*) -> HRESULT { return D3D_OK; };
  t.ReleaseComObject = [](IUnknown*) -> ULONG {
    F().released++;
    return 0;
  };
  SetDirect3DCallTable(&table);
}

FakeDirect3D::~FakeDirect3D() {
  SetDirect3DCallTable(nullptr);
  ResetDeviceLayer();
  current = nullptr;
}

int FakeDirect3D::Count(const std::string& prefix) const {
  int n = 0;
  for (const std::string& call : calls) n += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  return n;
}

std::string FakeDirect3D::Joined() const {
  std::string text;
  for (const std::string& call : calls) text += call + "\n";
  return text;
}

}  // namespace test_support
