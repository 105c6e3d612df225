// Text in two fonts and a filter on a graphic: a white line at 16 pixels,
// underlined over the width the library measures for it, and a yellow line
// at 40 pixels with a 2-pixel red edge; below them a picture drawn as loaded
// (left) and a second copy after GraphFilterInvert (right), each colour
// turned into 255 minus itself. Escape or closing the window ends the
// program. The picture is a tiny file written at start-up (TinyAssets.h).
#include <windows.h>

#include "RiDov.h"
#include "TinyAssets.h"

namespace {

enum { ESCAPE_KEY = 0x01 };  // DirectInput key code
// Font types: bit 0 an edge, bit 1 anti-aliasing.
enum { PLAIN_TYPE = 0, EDGED_TYPE = 1 };

unsigned PictureColor(int x, int y) { return y < 60 ? 0xFF8000 : (x < 80 ? 0x0040C0 : 0x20A040); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (!WriteBmp("picture.bmp", 160, 120, PictureColor)) return 1;
  SetTitleText("RiDov example: text and filter");
  SetScreenMode(640, 480, 32, 60);
  ChangeWindowMode(1);
  if (LibraryStartUp() != 0) return 1;

  // Face (null: the library's default), size in pixels, thickness, type,
  // character set, edge size (-1: the defaults), italic, handle to reuse.
  const int small = CreateFontToHandle("Tahoma", 16, -1, PLAIN_TYPE, -1, -1, 0, -1);
  const int large = CreateFontToHandle("Tahoma", 40, -1, EDGED_TYPE, -1, 2, 0, -1);
  const int picture = LoadImageGraph("picture.bmp");
  const int inverted = LoadImageGraph("picture.bmp");
  if (small == -1 || large == -1 || picture == -1 || inverted == -1 || GraphFilterInvert(inverted) != 0) {
    LibraryShutDown();
    return 1;
  }
  const char* line = "Sixteen pixels, plain";
  const int lineWidth = MeasureTextWidth(line, -1, small, 0);  // -1: up to the terminating zero
  SetDrawTarget(-2);                                           // the back buffer

  while (PumpWindowMessages() == 0 && !IsKeyDown(ESCAPE_KEY)) {
    ClearDrawTarget(nullptr);
    DrawTextWithFont(40, 40, line, MakeColorValue(255, 255, 255), small, 0, 0);
    DrawRectShape(40, 66, 40 + lineWidth, 68, MakeColorValue(90, 90, 90), 1);  // underlined by its width
    DrawTextWithFont(40, 100, "Forty, edged", MakeColorValue(255, 220, 0), large, MakeColorValue(200, 0, 0), 0);
    DrawImageAt(40, 240, picture, 0);
    DrawImageAt(360, 240, inverted, 0);
    PresentBackBuffer();
  }

  DeleteGraphicHandle(picture, 0);
  DeleteGraphicHandle(inverted, 0);
  DeleteHandle(small);
  DeleteHandle(large);
  LibraryShutDown();
  return 0;
}
