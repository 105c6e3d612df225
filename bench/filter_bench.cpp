// Time of each graphic filter and blend on a 960 x 720 graphic, by the shader
// path and by the software path (programmable shaders switched off) in the
// same run: in place on a plain graphic (the shader path then goes through a
// work render target and writes the result back through memory), and by
// the shader path into a render-target graphic (no copy back). Each time is
// the best of a few calls, the device's work waited for with an event
// query. Run on a display.
#include <stdio.h>
#include <windows.h>

#include <functional>

#include "BenchTiming.h"
#include "DeviceTestImages.h"
#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaFilter.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"

namespace {

enum { WIDTH = 960, HEIGHT = 720, ROUNDS = 3 };

int MakePicture() {
  return test_support::MakeArgbGraph(WIDTH, HEIGHT, [](int x, int y) {
    return static_cast<uint32_t>((x + y) & 255) << 24 | (x & 255) << 16 | (y & 255) << 8 | ((x ^ y) & 255);
  });
}

int MakeRenderTarget() { return test_support::MakeArgbRenderTargetGraph(WIDTH, HEIGHT); }

// Waits until the device has done what was asked of it.
void WaitForDevice() {
  IDirect3DQuery9* query = nullptr;
  EndDrawScene();
  if (DeviceLayer.device->CreateQuery(D3DQUERYTYPE_EVENT, &query) != D3D_OK) return;
  query->Issue(D3DISSUE_END);
  while (query->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE) {
  }
  query->Release();
}

double Time(const std::function<int()>& call) {
  return BenchBestSeconds(
      [&] {
        call();
        WaitForDevice();
      },
      ROUNDS, 1);
}

}  // namespace

int main() {
  ChangeWindowMode(1);
  SetScreenMode(WIDTH, HEIGHT, 32, 60);
  SetAlwaysRunFlag(1);
  SetWaitVSync(0);
  if (LibraryStartUp() != 0) return 1;
  if (!DeviceLayer.hardware || !AreShadersUsable()) {
    printf("no Direct3D device with shaders\n");
    LibraryShutDown();
    return 1;
  }
  const int picture = MakePicture(), second = MakePicture(), target = MakeRenderTarget();
  if (picture < 0 || second < 0 || target < 0) {
    printf("no graphics\n");
    LibraryShutDown();
    return 1;
  }
  const unsigned int dark = MakeColorValue(20, 40, 60), bright = MakeColorValue(240, 200, 180);
  struct Entry {
    const char* name;
    std::function<int(int source, int dest)> call;  // dest == source: in place
  };
  auto filter = [](int type, GraphFilterArgs args) {
    return [type, args](int source, int dest) {
      return ApplyGraphFilterOrBlend({0, source, -1, dest, 0, type, 0, 0, WIDTH, HEIGHT, 0, 0, 0, 0, 0}, args);
    };
  };
  auto blend = [&](int type, GraphFilterArgs args) {
    return [type, args, &second](int source, int dest) {
      return ApplyGraphFilterOrBlend({1, source, second, dest, 200, type, 0, 0, WIDTH, HEIGHT, 0, 0, 1, 0, 0}, args);
    };
  };
  const Entry entries[] = {
      {"Mono", filter(FILTER_MONO, {2, {-60, 90}})},
      {"Gauss 8", filter(FILTER_GAUSS, {2, {8, 300}})},
      {"Gauss 16", filter(FILTER_GAUSS, {2, {16, 800}})},
      {"Gauss 32", filter(FILTER_GAUSS, {2, {32, 1600}})},
      {"DownScale 2", filter(FILTER_DOWN_SCALE, {1, {2}})},
      {"DownScale 4", filter(FILTER_DOWN_SCALE, {1, {4}})},
      {"DownScale 8", filter(FILTER_DOWN_SCALE, {1, {8}})},
      {"BrightClip", filter(FILTER_BRIGHT_CLIP, {5, {5, 120, 1, static_cast<int>(bright), 128}})},
      {"Hsb relative", filter(FILTER_HSB, {4, {0, 70, 40, 20}})},
      {"Hsb absolute", filter(FILTER_HSB, {4, {1, 200, -30, -10}})},
      {"Invert", filter(FILTER_INVERT, {0, {}})},
      {"Level", filter(FILTER_LEVEL, {5, {30, 220, 150, 10, 240}})},
      {"TwoColor", filter(FILTER_TWO_COLOR, {5, {120, static_cast<int>(dark), 255, static_cast<int>(bright), 128}})},
      {"GradientMap", filter(FILTER_GRADIENT_MAP, {2, {second, 0}})},
      {"PremultipliedAlpha", filter(FILTER_PREMUL_ALPHA, {0, {}})},
      {"InterpolatedAlpha", filter(FILTER_INTERP_ALPHA, {0, {}})},
      {"Blend Normal", blend(0, {0, {}})},
      {"Blend Multiple", blend(2, {0, {}})},
      {"Blend Overlay", blend(6, {0, {}})},
      {"Blend SoftLight", blend(11, {0, {}})},
      {"Blend Normal_AlphaCh", blend(14, {0, {}})},
      {"Blend RGBA mix 5 3 0 6", blend(GRAPH_BLEND_RGBA_MIX, {4, {5, 3, 0, 6}})},
  };
  printf("%dx%d graphic, ms per call (best of %d)\n", WIDTH, HEIGHT, ROUNDS);
  printf("%-24s %12s %12s %12s %10s\n", "filter", "hw to RT", "hw in place", "sw in place", "sw / hw");
  for (const Entry& e : entries) {
    const double toTarget = Time([&] { return e.call(picture, target); });
    const double hardware = Time([&] { return e.call(picture, picture); });
    GraphicsSystem.shadersUsable = 0;
    const double software = Time([&] { return e.call(picture, picture); });
    GraphicsSystem.shadersUsable = 1;
    printf("%-24s %12.2f %12.2f %12.2f %10.1f\n", e.name, toTarget * 1000, hardware * 1000, software * 1000,
           software / toTarget);
  }
  LibraryShutDown();
  return 0;
}
