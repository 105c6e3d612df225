// Recording, fault-injecting stand-in of the device call table. Objects it
// hands out are dummy addresses that only the fake understands; every call
// the device layer makes is logged as text, in order. The clock is fake:
// sleeps advance it, and vertical blanks come at scripted intervals.
#ifndef FAKE_DIRECT3D_H
#define FAKE_DIRECT3D_H

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VuViderezaDevice.h"

namespace test_support {

struct FakeDirect3D {
  // Script.
  bool d3d9Missing = false;
  bool createEntryMissing = false;
  int directDrawFailures = 0;               // the next N DirectDraw creations fail
  std::deque<HRESULT> createDeviceResults;  // then D3D_OK
  D3DFORMAT displayFormat = D3DFMT_X8R8G8B8;
  UINT r5g6b5Modes = 1;
  DWORD vertexShaderVersion = D3DVS_VERSION(3, 0);
  DWORD pixelShaderVersion = D3DPS_VERSION(3, 0);
  std::set<int> refusedFormats;  // CheckDeviceFormat / CheckDepthStencilMatch refuse these
  int maxMultiSamples = 16;
  DWORD multiSampleLevels[2] = {4, 4};  // colour format, D16
  HRESULT presentResult = D3D_OK;
  HRESULT cooperativeLevel = D3D_OK;
  std::function<bool(const DEVMODEA*, DWORD)> acceptMode;  // null: every mode
  std::vector<DEVMODEA> displayModes;
  std::vector<int64_t> blankIntervals = {16667};  // cycled
  bool waitBlankFails = false;
  bool waitBlankReturnsAtOnce = false;     // a stub of the wait
  std::function<HRESULT()> textureResult;  // CreateTexture; null: D3D_OK
  HRESULT shaderResult = D3D_OK;           // CreateVertexShader / CreatePixelShader

  // Record.
  std::vector<std::string> calls;
  std::vector<D3DPRESENT_PARAMETERS> deviceParams;  // every CreateDevice
  std::vector<DWORD> deviceFlags;
  std::vector<DEVMODEA> modeChanges;  // every ChangeDisplaySettings with a mode
  std::vector<RECT> presentSources, presentDests;
  int64_t clock = 1000000;
  int64_t nextBlank = 1000000;
  int released = 0;
  DWORD textureThread = 0;
  std::vector<float> lastPixelConstants;                 // data of the last SetPixelShaderConstantF
  std::vector<std::pair<HWND, DWORD>> directDrawLevels;  // every DirectDraw SetCooperativeLevel

  FakeDirect3D();
  ~FakeDirect3D();  // puts the real table back and clears the device-layer state
  FakeDirect3D(const FakeDirect3D&) = delete;
  FakeDirect3D& operator=(const FakeDirect3D&) = delete;

  int Count(const std::string& prefix) const;
  std::string Joined() const;

  Direct3DCallTable table;
  static FakeDirect3D* current;
};

// Device-layer and screen settings back to their load state.
void ResetDeviceLayer();

}  // namespace test_support

#endif  // FAKE_DIRECT3D_H
