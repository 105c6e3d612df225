// The library as a program meets it: only RiDov.h, on the harness's
// display. Each group's main road through public calls, checked by the
// results and by the presented frame read back from the screen; then what
// a deleted handle and bad arguments give. Built twice: on Direct3D, and
// with PUBLIC_TEST_SOFTWARE in software mode (SetUseHardwareRendering(0)).
#include "RiDov.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

#ifdef PUBLIC_TEST_SOFTWARE
constexpr int kHardware = 0;
#else
constexpr int kHardware = 1;
#endif
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kPi = 3.14159265358979323846;

int TimeScale() {
  const char* scale = getenv("RIDOV_TIME_SCALE");
  const int value = scale != nullptr ? atoi(scale) : 1;
  return value > 0 ? value : 1;
}

std::string TempPath(const char* name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "ridov_public_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

void Put16(std::vector<unsigned char>* out, unsigned int v) {
  out->push_back(static_cast<unsigned char>(v));
  out->push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>* out, unsigned int v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The test picture: 32 x 16, each pixel a colour of its own (steps of 8).
unsigned int PicturePixel(int x, int y) {
  return static_cast<unsigned int>(x * 8) << 16 | static_cast<unsigned int>(y * 16) << 8 |
         static_cast<unsigned int>(255 - x * 8);
}
constexpr int kPictureWidth = 32;
constexpr int kPictureHeight = 16;

// A 24-bit bottom-up BMP of the test picture.
std::vector<unsigned char> PictureBmp() {
  const int rowBytes = kPictureWidth * 3;
  std::vector<unsigned char> out = {'B', 'M'};
  Put32(&out, 54 + rowBytes * kPictureHeight);
  Put32(&out, 0);
  Put32(&out, 54);
  Put32(&out, 40);
  Put32(&out, kPictureWidth);
  Put32(&out, kPictureHeight);
  Put16(&out, 1);
  Put16(&out, 24);
  for (int i = 0; i < 6; i++) Put32(&out, 0);
  for (int y = kPictureHeight - 1; y >= 0; y--)
    for (int x = 0; x < kPictureWidth; x++) {
      const unsigned int c = PicturePixel(x, y);
      out.push_back(static_cast<unsigned char>(c));
      out.push_back(static_cast<unsigned char>(c >> 8));
      out.push_back(static_cast<unsigned char>(c >> 16));
    }
  return out;
}

// A mono 16-bit PCM WAV of a tone.
std::vector<unsigned char> ToneWav(int rate, int samples) {
  std::vector<unsigned char> out = {'R', 'I', 'F', 'F'};
  Put32(&out, 36 + samples * 2);
  for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<unsigned char>(c));
  Put32(&out, 16);
  Put16(&out, 1);
  Put16(&out, 1);
  Put32(&out, rate);
  Put32(&out, rate * 2);
  Put16(&out, 2);
  Put16(&out, 16);
  for (char c : std::string("data")) out.push_back(static_cast<unsigned char>(c));
  Put32(&out, samples * 2);
  for (int i = 0; i < samples; i++)
    Put16(&out, static_cast<unsigned int>(static_cast<int>(8000.0 * sin(i * 2.0 * kPi * 440.0 / rate))) & 0xFFFF);
  return out;
}

// The presented client area, read from the screen (a Direct3D present does
// not pass through the window's GDI surface). A marker pixel of a colour of
// its own in the bottom-right corner tells when the screen shows this frame.
class Frame {
 public:
  Frame() : pixels_(static_cast<size_t>(kWidth) * kHeight) {
    static int count = 0;
    count++;
    const unsigned int marker = static_cast<unsigned int>(count * 40 % 256) << 16 |
                                static_cast<unsigned int>(255 - count * 24 % 256) << 8 | 0x80;
    const int target = GetDrawTarget();
    SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
    SetBlendMode(BLEND_MODE_NONE, 0);
    DrawRectShape(kWidth - 1, kHeight - 1, kWidth, kHeight,
                  MakeColorValue(marker >> 16, (marker >> 8) & 255, marker & 255), 1);
    const DWORD limit = GetTickCount() + 5000 * TimeScale();
    do {
      PresentBackBuffer();
      PumpWindowMessages();
      Sleep(30);
      Capture();
    } while (At(kWidth - 1, kHeight - 1) != marker && GetTickCount() < limit);
    SetDrawTarget(target);
  }
  // 0xRRGGBB.
  unsigned int At(int x, int y) const { return pixels_[static_cast<size_t>(y) * kWidth + x] & 0xFFFFFF; }

 private:
  void Capture() {
    GdiFlush();
    POINT origin = {0, 0};
    ClientToScreen(GetMainWindowHandle(), &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, kWidth, kHeight, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    memcpy(pixels_.data(), bits, pixels_.size() * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
  }

  std::vector<unsigned int> pixels_;
};

// Channel difference of two 0xRRGGBB colours.
int Distance(unsigned int a, unsigned int b) {
  int worst = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255));
    if (d > worst) worst = d;
  }
  return worst;
}

void ClearToBlack() {
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
  SetBackgroundColor(0, 0, 0);
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
}

class PublicEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetLogFileEnabled(0);
    ASSERT_EQ(0, SetUseHardwareRendering(kHardware));
    ASSERT_EQ(0, ChangeWindowMode(1));
    ASSERT_EQ(0, SetScreenMode(kWidth, kHeight, 32, 0));
    SetTitleText("RiDov public test");
    SetAlwaysRunFlag(1);
    ASSERT_EQ(0, LibraryStartUp());
    SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
  }
  void TearDown() override { EXPECT_EQ(0, LibraryShutDown()); }
};

TEST(PublicScreen, QueriesAnswerWhatWasSet) {
  int width = 0, height = 0, bits = 0;
  EXPECT_EQ(0, GetScreenModeSize(&width, &height, &bits));
  EXPECT_EQ(kWidth, width);
  EXPECT_EQ(kHeight, height);
  EXPECT_EQ(32, bits);
  EXPECT_EQ(32, GetColorBitDepth());
  EXPECT_EQ(1, IsWindowedMode());
  EXPECT_EQ(0, IsFullScreenMode());
  EXPECT_EQ(kHardware, GetUseHardwareRendering());
  EXPECT_EQ(1, GetRunAlwaysFlag());
  EXPECT_NE(nullptr, GetMainWindowHandle());
  // Set before start-up only.
  EXPECT_EQ(-1, SetUseHardwareRendering(1 - kHardware));
  EXPECT_EQ(kHardware, GetUseHardwareRendering());

  const int modes = GetDisplayModeCount();
  ASSERT_GE(modes, 0);
  for (int index : {-1, modes}) {
    const DisplayModeEntry none = GetDisplayModeEntry(index);
    EXPECT_EQ(-1, none.width);
    EXPECT_EQ(-1, none.height);
    EXPECT_EQ(-1, none.colorBits);
    EXPECT_EQ(-1, none.refreshRate);
  }
  if (modes > 0) {
    const DisplayModeEntry first = GetDisplayModeEntry(0);
    EXPECT_EQ(1, IsDisplayModeAvailable(first.width, first.height, first.colorBits));
  }
  EXPECT_EQ(0, IsDisplayModeAvailable(12345, 7, 32));

  EXPECT_EQ(0, SetDrawTarget(DRAW_TARGET_BACK_BUFFER));
  EXPECT_EQ(DRAW_TARGET_BACK_BUFFER, GetDrawTarget());
  EXPECT_EQ(0, SetSamplingMode(SAMPLING_BILINEAR));
  EXPECT_EQ(SAMPLING_BILINEAR, GetSamplingMode());
  EXPECT_EQ(0, SetSamplingMode(SAMPLING_NEAREST));
  EXPECT_GE(GetMillisecondCount(), 0);
  EXPECT_GT(GetMicrosecondCount(), 0);
}

TEST(PublicGraphics, LoadedDrawnStretchedTurnedDeleted) {
  const std::string path = TempPath("picture.bmp");
  WriteFile(path, PictureBmp());
  const int graphic = LoadImageGraph(path.c_str());
  ASSERT_GE(graphic, 0);
  int width = 0, height = 0;
  EXPECT_EQ(0, GetGraphicSize(graphic, &width, &height));
  EXPECT_EQ(kPictureWidth, width);
  EXPECT_EQ(kPictureHeight, height);
  EXPECT_EQ(1, IsGraphicHandleValid(graphic));

  ClearToBlack();
  SetBlendMode(BLEND_MODE_NONE, 0);
  SetSamplingMode(SAMPLING_NEAREST);
  EXPECT_EQ(0, DrawImageAt(0, 0, graphic, 0));
  EXPECT_EQ(0, DrawImageStretched(0, 100, kPictureWidth * 2, 100 + kPictureHeight * 2, graphic, 0));
  EXPECT_EQ(0, DrawImageTurned(100, 0, graphic, 0));
  // Half a turn about the picture's centre.
  EXPECT_EQ(0, DrawImageRotated(200 + kPictureWidth / 2.0f, kPictureHeight / 2.0f, 1.0, kPi, graphic, 0, 0));
  // A quarter turn, clockwise on the screen, about (400, 16): the picture
  // stands 16 wide and 32 tall, its top row down the right-hand column.
  EXPECT_EQ(0, DrawImageRotated(400.0f, kPictureWidth / 2.0f, 1.0, kPi / 2, graphic, 0, 0));
  const Frame frame;
  int wrong = 0;
  std::string first;
  auto check = [&](const char* what, int x, int y, unsigned int want) {
    const unsigned int got = frame.At(x, y);
    if (Distance(got, want) > 2 && wrong++ == 0) {
      char text[128];
      snprintf(text, sizeof text, "%s at (%d,%d): %06X, want %06X", what, x, y, got, want);
      first = text;
    }
  };
  for (int y = 0; y < kPictureHeight; y++)
    for (int x = 0; x < kPictureWidth; x++) {
      const unsigned int want = PicturePixel(x, y);
      check("plain", x, y, want);
      for (int dy = 0; dy < 2; dy++)
        for (int dx = 0; dx < 2; dx++) check("stretched", 2 * x + dx, 100 + 2 * y + dy, want);
      check("turned", 100 + kPictureWidth - 1 - x, y, want);
      check("half turn", 200 + kPictureWidth - 1 - x, kPictureHeight - 1 - y, want);
      check("quarter turn", 400 + kPictureHeight / 2 - 1 - y, x, want);
    }
  EXPECT_EQ(0, wrong) << first;

  int lost = -1;
  EXPECT_EQ(0, SetGraphicLostFlagPointer(graphic, &lost));
  EXPECT_EQ(0, lost);
  EXPECT_EQ(0, DeleteGraphicHandle(graphic));
  EXPECT_EQ(1, lost);
  // The stale handle.
  EXPECT_EQ(0, IsGraphicHandleValid(graphic));
  EXPECT_EQ(-1, GetGraphicSize(graphic, &width, &height));
  EXPECT_EQ(-1, GetGraphTextureSize(graphic, &width, &height));
  EXPECT_EQ(-1, DrawImageAt(0, 0, graphic, 0));
  EXPECT_EQ(-1, DrawImageStretched(0, 0, 10, 10, graphic, 0));
  EXPECT_EQ(-1, DrawImageTurned(0, 0, graphic, 0));
  EXPECT_EQ(-1, DrawImageRotated(10, 10, 1.0, 0.0, graphic, 0, 0));
  EXPECT_EQ(-1, CreateDerivedGraph(0, 0, 4, 4, graphic));
  EXPECT_EQ(-1, SetGraphicLostFlagPointer(graphic, &lost));
  EXPECT_EQ(-1, DeleteGraphicHandle(graphic));
  EXPECT_EQ(-1, DeleteHandle(graphic));
  // Bad arguments.
  EXPECT_EQ(-1, LoadImageGraph(TempPath("missing.bmp").c_str()));
  EXPECT_EQ(-1, DrawImageAt(0, 0, -1, 0));
  DeleteFileA(path.c_str());
}

TEST(PublicGraphics, BaseImagesDerivedGraphsAndTargetCopies) {
  BaseImageRecord image = {};
  ASSERT_EQ(0, CreateBaseImageARGB8(8, 8, &image));
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) ASSERT_EQ(0, SetBaseImagePixelRGBA(&image, x, y, x * 32, y * 32, 128, 255));
  int r = 0, g = 0, b = 0, a = 0;
  EXPECT_EQ(0, GetBaseImagePixelRGBA(&image, 5, 3, &r, &g, &b, &a));
  EXPECT_EQ(160, r);
  EXPECT_EQ(96, g);
  EXPECT_EQ(128, b);
  EXPECT_EQ(255, a);
  EXPECT_EQ(-1, GetBaseImagePixelRGBA(&image, 8, 0, &r, &g, &b, &a));
  EXPECT_EQ(-1, SetBaseImagePixelRGBA(&image, 0, -1, 0, 0, 0, 0));
  const int graphic = MakeGraphFromBaseImages(&image, nullptr, 0);
  ASSERT_GE(graphic, 0);
  EXPECT_EQ(0, ReleaseBaseImage(&image));

  // The right half as a graphic of its own.
  const int half = CreateDerivedGraph(4, 0, 4, 8, graphic);
  ASSERT_GE(half, 0);
  int width = 0, height = 0;
  EXPECT_EQ(0, GetGraphicSize(half, &width, &height));
  EXPECT_EQ(4, width);
  EXPECT_EQ(8, height);

  ClearToBlack();
  EXPECT_EQ(0, DrawImageAt(0, 0, half, 0));
  {
    const Frame frame;
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 4; x++) {
        const unsigned int want = static_cast<unsigned int>((x + 4) * 32) << 16 |
                                  static_cast<unsigned int>(y * 32) << 8 | 128;
        EXPECT_LE(Distance(frame.At(x, y), want), 2) << "derived " << x << "," << y;
      }
  }
  // Drawn into a drawable graphic through the draw-target switch, copied
  // from there into another graphic, and that drawn on the screen.
  const int target = MakeBlankGraph(16, 16, 1, 0);
  const int copy = MakeBlankGraph(4, 8, 0, 0);
  ASSERT_GE(target, 0);
  ASSERT_GE(copy, 0);
  ASSERT_EQ(0, SetDrawTarget(target));
  EXPECT_EQ(target, GetDrawTarget());
  SetBackgroundColor(0, 0, 0);
  ClearDrawTarget(nullptr);
  SetBlendMode(BLEND_MODE_NONE, 0);
  EXPECT_EQ(0, DrawImageAt(2, 2, half, 0));
  EXPECT_EQ(0, CopyDrawTargetRectToGraph(2, 2, 6, 10, copy));
  ClearToBlack();
  EXPECT_EQ(0, DrawImageAt(20, 0, target, 0));
  EXPECT_EQ(0, DrawImageAt(50, 0, copy, 0));
  const Frame frame;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 4; x++) {
      const unsigned int want = static_cast<unsigned int>((x + 4) * 32) << 16 | static_cast<unsigned int>(y * 32) << 8 |
                                128;
      EXPECT_LE(Distance(frame.At(22 + x, 2 + y), want), 2) << "drawn into a graphic " << x << "," << y;
      EXPECT_LE(Distance(frame.At(50 + x, y), want), 2) << "copied from the target " << x << "," << y;
    }
  EXPECT_EQ(0u, frame.At(20, 0));

  // A copy of the wrong size is refused.
  EXPECT_EQ(-1, CopyDrawTargetRectToGraph(0, 0, 5, 5, copy));
  for (int handle : {copy, target, half, graphic}) EXPECT_EQ(0, DeleteGraphicHandle(handle));
  EXPECT_EQ(-1, DrawImageAt(0, 0, half, 0));
  EXPECT_EQ(-1, SetDrawTarget(target));
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
}

TEST(PublicDrawing, AlphaTestAndShapesOnADraw) {
  // Columns of alpha 0, 64, 128, 192 and 255 (two pixels each), all green.
  BaseImageRecord image = {};
  ASSERT_EQ(0, CreateBaseImageARGB8(10, 4, &image));
  const int alphas[5] = {0, 64, 128, 192, 255};
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 10; x++) SetBaseImagePixelRGBA(&image, x, y, 0, 255, 0, alphas[x / 2]);
  const int graphic = MakeGraphFromBaseImages(&image, nullptr, 0);
  ReleaseBaseImage(&image);
  ASSERT_GE(graphic, 0);

  ClearToBlack();
  const unsigned int blue = MakeColorValue(0, 0, 255);
  int r = 0, g = 0, b = 0;
  EXPECT_EQ(0, SplitColorValue(blue, &r, &g, &b));
  EXPECT_EQ(0, r);
  EXPECT_EQ(0, g);
  EXPECT_EQ(255, b);
  EXPECT_EQ(0, DrawRectShape(0, 0, 40, 20, blue, 1));
  SetBlendMode(BLEND_MODE_NONE, 0);
  EXPECT_EQ(0, SetAlphaTestModeAndRef(ALPHA_TEST_GREATER, 128));
  EXPECT_EQ(0, DrawImageAt(5, 5, graphic, 1));
  EXPECT_EQ(0, SetAlphaTestModeAndRef(ALPHA_TEST_AUTO, 0));
  // Fog is for 3-D drawing: a 2-D draw with fog on is the same.
  EXPECT_EQ(0, SetFogEnable(FOG_LINEAR));
  EXPECT_EQ(0, SetFogColor(255, 0, 0));
  EXPECT_EQ(0, SetFogRange(0.0f, 1.0f));
  EXPECT_EQ(0, DrawImageAt(25, 5, graphic, 1));
  SetFogEnable(FOG_NONE);
  const Frame frame;
  // The software renderer has no alpha test: there the alpha blends.
  for (int column = 0; column < 5 && kHardware; column++) {
    const unsigned int want = alphas[column] > 128 ? 0x00FF00u : 0x0000FFu;
    EXPECT_LE(Distance(frame.At(5 + column * 2, 6), want), 2) << "alpha " << alphas[column];
  }
  EXPECT_LE(Distance(frame.At(25 + 9, 6), 0x00FF00u), 2) << "drawn with fog on";
  EXPECT_LE(Distance(frame.At(39, 19), 0x0000FFu), 2);
  EXPECT_LE(Distance(frame.At(40, 20), 0), 2);
  EXPECT_EQ(0, DeleteGraphicHandle(graphic));
}

TEST(PublicFonts, MadeMeasuredDrawnDeleted) {
  const int font = CreateFontToHandle(nullptr, 20, -1, FONT_TYPE_NORMAL, CHAR_SET_DEFAULT, -1, 0, -1);
  ASSERT_GE(font, 0);
  EXPECT_EQ(1, IsFontHandleValid(font));
  EXPECT_EQ(20, GetFontHandleSize(font));
  char name[256] = {};
  int size = 0, thickness = 0;
  EXPECT_EQ(0, GetFontHandleInfo(name, &size, &thickness, font));
  EXPECT_EQ(20, size);
  const int one = MeasureTextWidth("W", 1, font, 0);
  EXPECT_GT(one, 0);
  EXPECT_EQ(4 * one, MeasureTextWidth("WWWW", 4, font, 0));
  EXPECT_EQ(0, SetFontCharSpacing(3, font));
  EXPECT_EQ(4 * one + 4 * 3, MeasureTextWidth("WWWW", 4, font, 0));
  EXPECT_EQ(0, SetFontCharSpacing(0, font));

  ClearToBlack();
  EXPECT_EQ(0, DrawTextWithFont(10, 10, "WWWW", MakeColorValue(255, 255, 255), font, 0, 0));
  const Frame frame;
  int lit = 0, outside = 0;
  for (int y = 0; y < 60; y++)
    for (int x = 0; x < 200; x++) {
      if (frame.At(x, y) == 0) continue;
      const bool inBox = x >= 10 && x < 10 + 4 * one && y >= 10 && y < 10 + 2 * size;
      if (inBox) lit++;
      else outside++;
    }
  EXPECT_GT(lit, 20);
  EXPECT_EQ(0, outside);

  int lost = -1;
  EXPECT_EQ(0, SetFontLostFlagPointer(font, &lost));
  EXPECT_EQ(0, DeleteHandle(font));
  EXPECT_EQ(1, lost);
  EXPECT_EQ(0, IsFontHandleValid(font));
  EXPECT_EQ(-1, GetFontHandleSize(font));
  EXPECT_EQ(-1, GetFontHandleInfo(name, &size, &thickness, font));
  EXPECT_EQ(-1, MeasureTextWidth("W", 1, font, 0));
  EXPECT_EQ(-1, DrawTextWithFont(0, 0, "W", 0, font, 0, 0));
  EXPECT_EQ(-1, SetFontCharSpacing(1, font));
  EXPECT_EQ(-1, DeleteHandle(font));
  EXPECT_GE(GetDefaultFontHandle(), 0);
  EXPECT_GT(EnumFontFaces(nullptr, 0, nullptr, CHAR_SET_DEFAULT), 0);
}

TEST(PublicSound, PlayedToItsEndAndDeleted) {
  constexpr int kRate = 22050;
  constexpr int kSamples = kRate * 3 / 10;  // 300 ms
  const std::string path = TempPath("tone.wav");
  WriteFile(path, ToneWav(kRate, kSamples));
  const int sound = LoadSoundFile(path.c_str(), 1, -1);
  ASSERT_GE(sound, 0);
  EXPECT_EQ(kSamples, GetSoundTotalSamples(sound));
  EXPECT_EQ(300, GetSoundTotalTime(sound));
  EXPECT_EQ(0, IsSoundHandlePlaying(sound));
  ASSERT_EQ(0, PlaySoundHandle(sound, PLAY_TYPE_BACK, 1));
  EXPECT_EQ(1, IsSoundHandlePlaying(sound));
  const int position = GetSoundPlayPosition(sound);
  EXPECT_GE(position, 0);
  EXPECT_LE(position, 300);
  const DWORD limit = GetTickCount() + 3000 * TimeScale();
  while (IsSoundHandlePlaying(sound) == 1 && GetTickCount() < limit) {
    PumpWindowMessages();
    Sleep(20);
  }
  EXPECT_EQ(0, IsSoundHandlePlaying(sound));
  EXPECT_EQ(0, StopSoundHandle(sound));

  EXPECT_EQ(0, DeleteHandle(sound));
  EXPECT_EQ(-1, IsSoundHandlePlaying(sound));
  EXPECT_EQ(-1, GetSoundPlayPosition(sound));
  EXPECT_EQ(-1, GetSoundTotalSamples(sound));
  EXPECT_EQ(-1, GetSoundTotalTime(sound));
  EXPECT_EQ(-1, PlaySoundHandle(sound, PLAY_TYPE_BACK, 1));
  EXPECT_EQ(-1, StopSoundHandle(sound));
  EXPECT_EQ(-1, DeleteHandle(sound));
  EXPECT_EQ(-1, LoadSoundFile(TempPath("missing.wav").c_str(), 1, -1));
  DeleteFileA(path.c_str());

  // Soft sounds: samples written and read back, then the stale handle.
  const int soft = MakeSoftSound(1, 16, kRate, 100);
  ASSERT_GE(soft, 0);
  EXPECT_EQ(100, GetSoftSoundSampleCount(soft));
  EXPECT_EQ(0, WriteSoftSoundSample(soft, 42, -1234, 0));
  int left = 0, right = 0;
  EXPECT_EQ(0, ReadSoftSoundSample(soft, 42, &left, &right));
  EXPECT_EQ(-1234, left);
  EXPECT_EQ(-1, WriteSoftSoundSample(soft, 100, 0, 0));
  EXPECT_EQ(0, DeleteHandle(soft));
  EXPECT_EQ(-1, GetSoftSoundSampleCount(soft));
  // Music: a missing file and a bad handle.
  EXPECT_EQ(-1, LoadMusicFile(TempPath("missing.mid").c_str()));
  EXPECT_EQ(-1, IsMusicHandlePlaying(-1));
}

TEST(PublicCamera, ScreenPointsBackIntoTheWorldAsTheMathsSays) {
  const float fov = static_cast<float>(kPi / 3.0);
  const float zNear = 2.0f, zFar = 200.0f;
  ASSERT_EQ(0, SetCameraPositionAndTarget(1.0f, 2.0f, -10.0f, 1.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f));
  ASSERT_EQ(0, SetPerspectiveFov(fov));
  ASSERT_EQ(0, SetProjectionNearFar(zNear, zFar));
  ASSERT_EQ(0, SetProjectionCenter(kWidth / 2.0f, kHeight / 2.0f));
  // The screen's centre lies on the camera's line of sight: depth 0 on the
  // near plane, 1 on the far plane.
  Vector3 p = {};
  TransformByInverseCombined(&p, kWidth / 2.0f, kHeight / 2.0f, 0.0f);
  EXPECT_NEAR(1.0f, p.x, 1e-3f);
  EXPECT_NEAR(2.0f, p.y, 1e-3f);
  EXPECT_NEAR(-10.0f + zNear, p.z, 1e-3f);
  TransformByInverseCombined(&p, kWidth / 2.0f, kHeight / 2.0f, 1.0f);
  EXPECT_NEAR(-10.0f + zFar, p.z, 0.05f);
  // The top-right corner on the near plane: the half heights of the field
  // of view, the width by the screen's aspect.
  const float halfHeight = zNear * tanf(fov / 2.0f);
  const float halfWidth = halfHeight * kWidth / kHeight;
  TransformByInverseCombined(&p, static_cast<float>(kWidth), 0.0f, 0.0f);
  EXPECT_NEAR(1.0f + halfWidth, p.x, 1e-3f);
  EXPECT_NEAR(2.0f + halfHeight, p.y, 1e-3f);
  EXPECT_NEAR(-10.0f + zNear, p.z, 1e-3f);
  // Moving the camera moves the point with it.
  ASSERT_EQ(0, SetCameraPositionAndTarget(4.0f, 2.0f, -10.0f, 4.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f));
  TransformByInverseCombined(&p, static_cast<float>(kWidth), 0.0f, 0.0f);
  EXPECT_NEAR(4.0f + halfWidth, p.x, 1e-3f);
  // Lights: made, deleted, then stale.
  const int light = CreateDirectionalLight(0.0f, -1.0f, 1.0f);
  ASSERT_GE(light, 0);
  EXPECT_EQ(0, SetUseLighting(1));
  EXPECT_EQ(0, DeleteLightHandle(light));
  EXPECT_EQ(-1, DeleteLightHandle(light));
  EXPECT_EQ(0, DeleteAllLightsExceptStandard());
}

TEST(PublicInput, KeysLineEditorsAndClipboard) {
  EXPECT_EQ(0, IsKeyDown(KEYCODE_ESCAPE));
  EXPECT_EQ(0, IsKeyDown(999));
  char keys[256] = {};
  EXPECT_EQ(0, GetAllKeyStates(keys));
  EXPECT_EQ(-1, StopPadVibration(GetPadCount() + 1));
  char out[2] = {};
  EXPECT_EQ(0, GetInputChar(out, 1));

  const int input = MakeKeyInput(8, 1, 0, 0);
  ASSERT_GE(input, 0);
  EXPECT_EQ(0, SetKeyInputString(input, "abcdefghij"));
  char text[32] = {};
  EXPECT_EQ(8, GetKeyInputString(input, text, sizeof text));
  EXPECT_STREQ("abcdefgh", text);
  EXPECT_EQ(8, GetKeyInputCursorPosition(input));
  EXPECT_EQ(0, CheckKeyInput(input));
  EXPECT_EQ(0, DeleteKeyInputHandle(input));
  EXPECT_EQ(-1, CheckKeyInput(input));
  EXPECT_EQ(-1, GetKeyInputString(input, text, sizeof text));
  EXPECT_EQ(-1, DeleteKeyInputHandle(input));
  EXPECT_EQ(-1, MakeKeyInput(0, 1, 0, 0));

  ASSERT_EQ(0, WriteClipboardText("public clipboard"));
  char clip[64] = {};
  EXPECT_GE(ReadClipboardText(nullptr, 0), static_cast<int>(strlen("public clipboard") + 1));
  EXPECT_EQ(0, ReadClipboardText(clip, sizeof clip));
  EXPECT_STREQ("public clipboard", clip);
}

TEST(PublicFilters, InvertReadBackAndRefusals) {
  BaseImageRecord image = {};
  ASSERT_EQ(0, CreateBaseImageXRGB8(4, 4, &image));
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) SetBaseImagePixelRGBA(&image, x, y, 200, 40 * x, 16 * y, 255);
  const int graphic = MakeGraphFromBaseImages(&image, nullptr, 0);
  ReleaseBaseImage(&image);
  ASSERT_GE(graphic, 0);
  EXPECT_EQ(0, GraphFilterInvert(graphic));
  ClearToBlack();
  SetBlendMode(BLEND_MODE_NONE, 0);
  EXPECT_EQ(0, DrawImageAt(0, 0, graphic, 0));
  const Frame frame;
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      const unsigned int want = static_cast<unsigned int>(55) << 16 | static_cast<unsigned int>(255 - 40 * x) << 8 |
                                static_cast<unsigned int>(255 - 16 * y);
      EXPECT_LE(Distance(frame.At(x, y), want), 2) << x << "," << y;
    }
  EXPECT_EQ(-1, GraphFilterInvert(-1));
  EXPECT_EQ(0, DeleteGraphicHandle(graphic));
  EXPECT_EQ(-1, GraphFilterInvert(graphic));
  EXPECT_EQ(-1, GraphFilterMono(graphic, 0, 0));
}

TEST(PublicHandles, ShadowMapsBuffersAndSoftImages) {
  const int map = MakeShadowMap(64, 32, 16, 0);
  if (kHardware) {
    ASSERT_GE(map, 0);
    int width = 0, height = 0;
    EXPECT_EQ(0, GetShadowMapSize(map, &width, &height));
    EXPECT_EQ(64, width);
    EXPECT_EQ(32, height);
    EXPECT_EQ(0, SetShadowMapBlurCount(map, 50));
    EXPECT_EQ(50, GetShadowMapBlurCount(map));
    EXPECT_EQ(-1, SetShadowMapBlurCount(map, -1));
    EXPECT_EQ(0, DeleteShadowMap(map));
    EXPECT_EQ(-1, GetShadowMapSize(map, &width, &height));
    EXPECT_EQ(-1, GetShadowMapBlurCount(map));
  }
  EXPECT_EQ(-1, EndShadowMapDraw());

  const int soft = MakeSoftImage(8, 4, 1);
  ASSERT_GE(soft, 0);
  BaseImageRecord* image = GetSoftImageBaseImage(soft);
  ASSERT_NE(nullptr, image);
  EXPECT_EQ(8, image->width);
  EXPECT_EQ(4, image->height);
  EXPECT_EQ(0, DeleteSoftImage(soft));
  EXPECT_EQ(nullptr, GetSoftImageBaseImage(soft));
  EXPECT_EQ(-1, DeleteSoftImage(soft));
  EXPECT_EQ(-1, MakeSoftImage(0, 4, 1));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new PublicEnvironment);
  return RUN_ALL_TESTS();
}
