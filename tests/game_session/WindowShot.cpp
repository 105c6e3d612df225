// Writes the client area of a window, as read from the screen, to a binary
// PPM file (Direct3D presents do not pass through the window's GDI surface,
// so the screen is what shows them); exit 1 when there is no such window, 2
// on bad arguments, 3 when the picture cannot be read or written.
//   window_shot.exe <caption> <file.ppm>
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
  if (width <= 0 || height <= 0) return 3;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  int status = 3;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY)) {
      GdiFlush();
      std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
      const unsigned char* bgra = static_cast<const unsigned char*>(bits);
      for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
      }
      if (FILE* file = fopen(argv[2], "wb")) {
        fprintf(file, "P6\n%d %d\n255\n", width, height);
        if (fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size()) status = 0;
        if (fclose(file) != 0) status = 3;
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return status;
}
