// A text as GDI draws it with a face asked for directly, one-bit (no
// anti-aliasing), white on black, written as a binary PGM of its extent.
//   gdi_text.exe <face> <size in pixels> <text> <out.pgm>
// The font is made as the library makes its fonts of that size: taller by
// its leading, so that the character box without the leading is the size.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

HFONT MakeFont(const wchar_t* face, int height) {
  return CreateFontW(height, 0, 0, 0, 600, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, NONANTIALIASED_QUALITY,
                     FIXED_PITCH, face);
}

TEXTMETRICW MetricsOf(HDC dc, HFONT font) {
  TEXTMETRICW tm;
  HGDIOBJ old = SelectObject(dc, font);
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return tm;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 5) {
    fprintf(stderr, "usage: gdi_text.exe <face> <size> <text> <out.pgm>\n");
    return 2;
  }
  const wchar_t* face = argv[1];
  const int size = _wtoi(argv[2]);
  const wchar_t* text = argv[3];
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = MakeFont(face, size);
  const TEXTMETRICW first = MetricsOf(dc, font);
  const int leading = first.tmInternalLeading + first.tmExternalLeading;
  if (leading >= 1 && first.tmHeight > leading) {
    const int taller = static_cast<int>(
        static_cast<float>(size / (1.0 - static_cast<double>(leading) / first.tmHeight)));
    DeleteObject(font);
    font = MakeFont(face, taller);
  }
  HGDIOBJ oldFont = SelectObject(dc, font);
  wchar_t got[LF_FACESIZE] = L"";
  GetTextFaceW(dc, LF_FACESIZE, got);
  SIZE extent;
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
  const int width = extent.cx + 8, height = extent.cy + 8;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib == nullptr) return 1;
  HGDIOBJ oldBitmap = SelectObject(dc, dib);
  memset(bits, 0, static_cast<size_t>(width) * height * 4);
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  TextOutW(dc, 4, 4, text, lstrlenW(text));
  GdiFlush();

  std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
  const unsigned int* pixels = static_cast<const unsigned int*>(bits);
  for (size_t i = 0; i < grey.size(); i++) grey[i] = (pixels[i] & 0xFFFFFF) != 0 ? 255 : 0;
  FILE* out = _wfopen(argv[4], L"wb");
  if (out == nullptr) return 1;
  fprintf(out, "P5\n%d %d\n255\n", width, height);
  fwrite(grey.data(), 1, grey.size(), out);
  fclose(out);
  char name[LF_FACESIZE * 3];
  WideCharToMultiByte(CP_UTF8, 0, got, -1, name, sizeof name, nullptr, nullptr);
  printf("face %s, %d x %d\n", name, width, height);

  SelectObject(dc, oldBitmap);
  SelectObject(dc, oldFont);
  DeleteObject(dib);
  DeleteObject(font);
  DeleteDC(dc);
  LocalFree(argv);
  return 0;
}
