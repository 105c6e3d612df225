// Prints the colours seen in the middle of a window's client area, read
// from the screen (Direct3D presents do not pass through the window's GDI
// surface), as "colours: rrggbb ..." sorted; with an output file, writes the
// whole client area there as a binary PPM instead. Exit 1 when no such
// window, 2 on a usage or capture error.
//   window_colours.exe <caption> [out.ppm]
#include <windows.h>
#include <stdio.h>

#include <set>
#include <vector>

namespace {

int WriteClientArea(HDC screen, POINT origin, int width, int height, const char* path) {
  if (width <= 0 || height <= 0) return 2;
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return 2;
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  int result = 2;
  if (FILE* file = fopen(path, "wb")) {
    fprintf(file, "P6\n%d %d\n255\n", width, height);
    const unsigned char* pixels = static_cast<const unsigned char*>(bits);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        const unsigned char* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
        row[x * 3] = p[2], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[0];
      }
      fwrite(row.data(), 1, row.size(), file);
    }
    fclose(file);
    result = 0;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND window = FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  HDC dc = GetDC(nullptr);
  if (argc >= 3) {
    const int result = WriteClientArea(dc, origin, client.right, client.bottom, argv[2]);
    ReleaseDC(nullptr, dc);
    return result;
  }
  std::set<unsigned> colors;
  for (int y = client.bottom / 4; y < client.bottom * 3 / 4; y += 7)
    for (int x = client.right / 4; x < client.right * 3 / 4; x += 5) {
      const COLORREF c = GetPixel(dc, origin.x + x, origin.y + y);
      colors.insert(static_cast<unsigned>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c));
    }
  ReleaseDC(nullptr, dc);
  printf("client %ldx%ld colours:", client.right, client.bottom);
  for (unsigned c : colors) printf(" %06x", c);
  printf("\n");
  return 0;
}
