// Prints the colours seen in the middle of a window's client area, read
// from the screen (Direct3D presents do not pass through the window's GDI
// surface), as "colours: rrggbb ..." sorted; exit 1 when no such window.
//   window_colours.exe <caption>
#include <windows.h>
#include <stdio.h>

#include <set>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND window = FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  HDC dc = GetDC(nullptr);
  std::set<unsigned> colours;
  for (int y = client.bottom / 4; y < client.bottom * 3 / 4; y += 7)
    for (int x = client.right / 4; x < client.right * 3 / 4; x += 5) {
      const COLORREF c = GetPixel(dc, origin.x + x, origin.y + y);
      colours.insert(static_cast<unsigned>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c));
    }
  ReleaseDC(nullptr, dc);
  printf("client %ldx%ld colours:", client.right, client.bottom);
  for (unsigned c : colours) printf(" %06x", c);
  printf("\n");
  return 0;
}
