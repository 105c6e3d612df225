// Sprites per second of DrawImageAt: 55 x 80 images with alpha blending
// (mode 1) into a 960 x 720 back buffer, batched, next to the same quads
// drawn straight with DrawPrimitiveUP (vertices built beforehand, the same
// device state) in the same run. Each frame draws the sprites and presents
// with the vertical-blank wait off. First, 8 x 8 sprites of two graphics
// (two textures) switching after every two draws, against the raw device
// binding the texture and drawing once per switch. Run on a display.
#include <stdio.h>
#include <windows.h>

#include <vector>

#include "BenchTiming.h"
#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);

namespace {

enum { SPRITES = 4000, FRAMES = 20, SPRITE_W = 55, SPRITE_H = 80, QUADS_PER_CALL = 383, SMALL_SIDE = 8 };

int MakeSprite(int blue = 128, int side = 0) {
  const int w = side != 0 ? side : SPRITE_W, h = side != 0 ? side : SPRITE_H;
  BaseImageRecord image;
  if (CreateBaseImageARGB8(w, h, &image) != 0) return -1;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) SetBaseImagePixelRGBA(&image, x, y, x * 4, y * 3, blue, (x + y) & 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = AllocGraphicHandle();
  const int result = CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0);
  ReleaseBaseImage(&image);
  return result == 0 ? handle : -1;
}

struct Position {
  int x, y;
};

}  // namespace

int main() {
  ChangeWindowMode(1);
  SetScreenMode(960, 720, 16, 60);
  SetAlwaysRunFlag(1);
  SetWaitVSync(0);
  if (LibraryStartUp() != 0) return 1;
  if (!DeviceLayer.hardware) {
    printf("no Direct3D device\n");
    LibraryShutDown();
    return 1;
  }
  SetDrawTarget(-2);
  const int sprite = MakeSprite();
  if (sprite < 0) {
    printf("no sprite graphic\n");
    LibraryShutDown();
    return 1;
  }
  std::vector<Position> positions(SPRITES);
  unsigned seed = 12345;
  for (Position& p : positions) {
    seed = seed * 1103515245u + 12345u;
    p.x = static_cast<int>((seed >> 8) % (960 - SPRITE_W));
    seed = seed * 1103515245u + 12345u;
    p.y = static_cast<int>((seed >> 8) % (720 - SPRITE_H));
  }
  SetBlendMode(1, 128);

  // Two 8 x 8 graphics (two textures), switching after every two draws:
  // the library against the raw device binding the texture and drawing
  // the two quads once per switch. Small sprites: the draw calls count,
  // not the filling.
  const int small[2] = {MakeSprite(128, SMALL_SIDE), MakeSprite(32, SMALL_SIDE)};
  if (small[0] < 0 || small[1] < 0) {
    printf("no small sprite graphics\n");
    LibraryShutDown();
    return 1;
  }
  IDirect3DBaseTexture9* textures[2] = {GetGraphicRecord(small[0], 0)->pieces[0].entry->texture,
                                        GetGraphicRecord(small[1], 0)->pieces[0].entry->texture};
  std::vector<Vertex2DTex2> smallVertices(static_cast<size_t>(SPRITES) * 6);
  {
    const float* k = GetGraphicRecord(small[0], 0)->pieces[0].corners;
    static const int ORDER[6] = {0, 1, 2, 3, 2, 1};
    for (int i = 0; i < SPRITES; i++)
      for (int n = 0; n < 6; n++) {
        const float* c = &k[ORDER[n] * 4];
        smallVertices[static_cast<size_t>(i) * 6 + n] = {
            positions[i].x - 0.5f + c[0], positions[i].y - 0.5f + c[1], 0.2f, 1.0f, 0x80FFFFFF, c[2], c[3], 0.0f, 0.0f};
      }
  }
  auto librarySwitching = [&] {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000040, 1.0f, 0);
    for (int i = 0; i < SPRITES; i++) DrawImageAt(positions[i].x, positions[i].y, small[i / 2 % 2], 1);
    PresentBackBuffer();
  };
  auto rawSwitching = [&] {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000040, 1.0f, 0);
    DrawImageAt(positions[0].x, positions[0].y, small[0], 1);  // the state, as the library sets it
    FlushVertexBatch(0);
    for (int first = 0; first < SPRITES; first += 2) {
      SetDeviceTexture(0, textures[first / 2 % 2]);
      DrawDevicePrimitiveUP(D3DPT_TRIANGLELIST, 4, &smallVertices[static_cast<size_t>(first) * 6],
                            sizeof(Vertex2DTex2));
    }
    SetDeviceTexture(0, textures[0]);  // what the library's record of stage 0 holds
    PresentBackBuffer();
  };
  double switching = 1e30, rawSwitch = 1e30;
  for (int round = 0; round < 2; round++) {
    const double a = BenchBestSeconds(librarySwitching, 1, 3);
    const double b = BenchBestSeconds(rawSwitching, 1, 3);
    if (a < switching) switching = a;
    if (b < rawSwitch) rawSwitch = b;
  }
  printf("8 x 8 sprites of two textures, a switch after every two draws, %d per frame\n", SPRITES);
  printf("DrawImageAt (batched)      %10.0f sprites/s\n", SPRITES / switching);
  printf("raw, one call per switch   %10.0f sprites/s\n", SPRITES / rawSwitch);
  printf("ratio library / raw        %10.2f\n", rawSwitch / switching);
  fflush(stdout);

  auto libraryFrame = [&] {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000040, 1.0f, 0);
    for (const Position& p : positions) DrawImageAt(p.x, p.y, sprite, 1);
    PresentBackBuffer();
  };

  // The reference: the same vertices built once, the library's state for
  // the sprite applied, DrawPrimitiveUP in calls of the batch's size.
  const GraphicHandleRecord* record = GetGraphicRecord(sprite, 0);
  const float* c = record->pieces[0].corners;
  std::vector<Vertex2DTex2> vertices(static_cast<size_t>(SPRITES) * 6);
  for (int i = 0; i < SPRITES; i++) {
    const float x0 = positions[i].x - 0.5f, y0 = positions[i].y - 0.5f;
    const float xs[4] = {x0 + c[0], x0 + c[4], x0 + c[8], x0 + c[12]};
    const float ys[4] = {y0 + c[1], y0 + c[5], y0 + c[9], y0 + c[13]};
    static const int ORDER[6] = {0, 1, 2, 3, 2, 1};
    for (int k = 0; k < 6; k++) {
      Vertex2DTex2& v = vertices[static_cast<size_t>(i) * 6 + k];
      const int corner = ORDER[k];
      v = {xs[corner], ys[corner], 0.2f, 1.0f, 0x80FFFFFF, c[corner * 4 + 2], c[corner * 4 + 3], 0.0f, 0.0f};
    }
  }
  auto rawFrame = [&] {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000040, 1.0f, 0);
    DrawImageAt(positions[0].x, positions[0].y, sprite, 1);  // the state, as the library sets it
    FlushVertexBatch(0);
    for (int first = 0; first < SPRITES; first += QUADS_PER_CALL) {
      const int quads = SPRITES - first < QUADS_PER_CALL ? SPRITES - first : QUADS_PER_CALL;
      DrawDevicePrimitiveUP(D3DPT_TRIANGLELIST, quads * 2, &vertices[static_cast<size_t>(first) * 6],
                            sizeof(Vertex2DTex2));
    }
    PresentBackBuffer();
  };

  // Best of alternating rounds (the machine is shared).
  double library = 1e30, raw = 1e30;
  for (int round = 0; round < 5; round++) {
    const double a = BenchBestSeconds(libraryFrame, 1, FRAMES);
    const double b = BenchBestSeconds(rawFrame, 1, FRAMES);
    if (a < library) library = a;
    if (b < raw) raw = b;
  }
  // CPU side alone: the draw calls into the batch, no flush or present.
  const double cpu = BenchBestSeconds(
      [&] {
        for (const Position& p : positions) DrawImageAt(p.x, p.y, sprite, 1);
        VertexBatch.count = 0;  // discarded, not drawn
        VertexBatch.write = static_cast<unsigned char*>(GetVertexBatchBuffer(VERTEX_CLASS_2D, VertexBatch.kind));
      },
      5, 10);
  printf("55 x 80 sprites, blend mode 1, 960 x 720, %d per frame\n", SPRITES);
  printf("DrawImageAt (batched)      %10.0f sprites/s\n", SPRITES / library);
  printf("raw DrawPrimitiveUP        %10.0f sprites/s\n", SPRITES / raw);
  printf("ratio raw / library        %10.2f\n", library / raw);
  printf("DrawImageAt CPU only       %10.0f sprites/s (%.0f ns per call)\n", SPRITES / cpu, cpu / SPRITES * 1e9);

  LibraryShutDown();
  return 0;
}
