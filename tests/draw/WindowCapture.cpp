// Writes a window's client area as seen on the screen (Direct3D presents do
// not pass through the window's GDI surface) to a binary PPM file; exit 1
// when no such window, 2 on a usage or capture error.
//   window_capture.exe <caption> <out.ppm>
#include <windows.h>
#include <stdio.h>

#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HWND window = FindWindowA(nullptr, argv[1]);
  if (!window) return 1;
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0) return 2;
  HDC screen = GetDC(nullptr);
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
  FILE* file = fopen(argv[2], "wb");
  if (file == nullptr) return 2;
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
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return 0;
}
