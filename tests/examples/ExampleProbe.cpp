// Linked into an example program for its test run only. The link wraps
// PresentBackBuffer, IsKeyDown, PlaySoundHandle, DrawTextWithFont and
// LibraryShutDown: the probe holds keys by a fixed script of frames, reads
// chosen frames back before they are shown (the back buffer, or the
// software screen image), checks them against what the example's comment
// says it draws, then holds Escape. Each failed check prints "FAIL: ..."; the
// shut-down prints "PASS" when every check ran and held.
//   EXAMPLE_SPRITES (sprites.cpp, software_mode.cpp), with EXAMPLE_SOFTWARE
//   1 when the run must be in software mode, 0 on Direct3D (colours are
//   compared at the screen's depth: 5-6-5 on a 16-bit software screen);
//   EXAMPLE_TEXT (text_and_filter.cpp).
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "FrameReadback.h"
#include "RiDov.h"
#include "VeVidu.h"
#include "VeVirud.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphicsSoftware.h"

extern "C" int __real__Z17PresentBackBufferv();
extern "C" int __real__Z15PlaySoundHandleiii(int sound, int playType, int fromTop);
extern "C" int __real__Z16DrawTextWithFontiiPKcjiji(int x, int y, const char* text, unsigned color, int font,
                                                    unsigned edgeColor, int vertical);
extern "C" int __real__Z15LibraryShutDownv();

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kKeyEscape = 0x01, kKeyZ = 0x2C, kKeyUp = 0xC8, kKeyLeft = 0xCB, kKeyRight = 0xCD, kKeyDown = 0xD0;

int Presents = 0;  // frames shown so far; the frame being made is Presents + 1
int Failures = 0;
int ChecksRun = 0;

void Fail(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  printf("FAIL: frame %d: %s\n", Presents + 1, text);
  fflush(stdout);
  ++Failures;
}

// With EXAMPLE_PROBE_DUMP set, each frame read is also written to
// "probe-<frame>.ppm" in the working folder, to look at a failure.
void Dump(const std::vector<uint32_t>& frame) {
  if (getenv("EXAMPLE_PROBE_DUMP") == nullptr) return;
  char name[64];
  snprintf(name, sizeof name, "probe-%d.ppm", Presents + 1);
  FILE* file = fopen(name, "wb");
  if (file == nullptr) return;
  fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
  for (uint32_t c : frame) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                                  static_cast<unsigned char>(c)};
    fwrite(rgb, 1, 3, file);
  }
  fclose(file);
}

int FrameBits = 32;  // of the last frame read: 16 for a 5-6-5 software screen

// A colour as a frame of FrameBits holds it: 5-6-5 keeps the top bits.
uint32_t Q(uint32_t color) { return FrameBits == 16 ? color & 0xF8FCF8 : color; }

std::vector<uint32_t> ReadScreen() {
  FrameBits = 32;
  if (DeviceLayer.hardware) return ReadBackBufferFrame(kWidth, kHeight);
  std::vector<uint32_t> out(kWidth * kHeight, 0xDEADu);
  const MEMIMG& image = SoftwareScreenImage;
  const int bytes = image.pixels != nullptr ? MemImgBytesPerPixel(&image) : 0;
  if ((bytes != 2 && bytes != 4) || image.width < kWidth || image.height < kHeight) {
    Fail("the software screen image is not a 16- or 32-bit %dx%d image", kWidth, kHeight);
    return out;
  }
  FrameBits = bytes * 8;
  for (int y = 0; y < kHeight; y++) {
    const uint8_t* row = image.pixels + y * image.header->pitch;
    for (int x = 0; x < kWidth; x++) {
      if (bytes == 4) {
        out[y * kWidth + x] = reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
      } else {
        const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
        out[y * kWidth + x] = (p >> 11 & 0x1F) << 19 | (p >> 5 & 0x3F) << 10 | (p & 0x1F) << 3;
      }
    }
  }
  return out;
}

// The frame being made, as 0xRRGGBB row by row.
std::vector<uint32_t> ReadFrame() {
  std::vector<uint32_t> frame = ReadScreen();
  Dump(frame);
  return frame;
}

struct Box {
  int left = kWidth, top = kHeight, right = -1, bottom = -1;  // inclusive; empty while right < left
  int count = 0;
  void Add(int x, int y) {
    left = x < left ? x : left, right = x > right ? x : right;
    top = y < top ? y : top, bottom = y > bottom ? y : bottom;
    ++count;
  }
};

// Pixels in the rectangle [x0, x1) x [y0, y1) for which `match` holds.
template <typename Match>
Box Find(const std::vector<uint32_t>& frame, int x0, int y0, int x1, int y1, Match match) {
  Box box;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++)
      if (match(frame[y * kWidth + x])) box.Add(x, y);
  return box;
}

#ifdef EXAMPLE_SPRITES
// sprites.cpp: background (16, 24, 64); ship 32 x 32, a green diamond, from
// (304, 408), 4 pixels a frame; rock i 16 x 16 at x 60 + 120 i, top 90 i + 2
// a frame; a beep when Z goes down.
constexpr uint32_t kBackground = 0x101840, kShip = 0x40FF40, kRock = 0xFF8020;
constexpr int kRightFrom = 6, kRightTo = 15, kDownFrom = 16, kDownTo = 20, kZFrom = 22, kZTo = 24, kEscapeFrom = 28;
constexpr int kLastCheck = 24;
int Plays = 0, PlaysStarted = 0, PlayingAfterStart = 0;

bool Held(int key, int frame) {
  switch (key) {
    case kKeyRight: return frame >= kRightFrom && frame <= kRightTo;
    case kKeyDown: return frame >= kDownFrom && frame <= kDownTo;
    case kKeyZ: return frame >= kZFrom && frame <= kZTo;
    case kKeyEscape: return frame >= kEscapeFrom;
    default: return false;
  }
}

void CheckShip(const std::vector<uint32_t>& frame, int wantX, int wantY) {
  const Box ship = Find(frame, 0, 0, kWidth, kHeight, [](uint32_t c) { return c == Q(kShip); });
  if (ship.left != wantX || ship.top != wantY || ship.right != wantX + 31 || ship.bottom != wantY + 31) {
    Fail("ship at (%d, %d)-(%d, %d), want (%d, %d)-(%d, %d)", ship.left, ship.top, ship.right, ship.bottom, wantX,
         wantY, wantX + 31, wantY + 31);
    return;
  }
  // The diamond fills half its square; its black corners show the background.
  if (ship.count < 32 * 32 / 2 || ship.count > 32 * 32 * 5 / 8) Fail("ship covers %d pixels", ship.count);
  const int corners[4][2] = {{wantX, wantY}, {wantX + 31, wantY}, {wantX, wantY + 31}, {wantX + 31, wantY + 31}};
  for (const auto& p : corners)
    if (frame[p[1] * kWidth + p[0]] != Q(kBackground))
      Fail("ship corner (%d, %d) is %06x, not the background", p[0], p[1], frame[p[1] * kWidth + p[0]]);
}

void CheckRocks(const std::vector<uint32_t>& frame, int frameNumber) {
  for (int i = 0; i < 5; i++) {
    const int x = 60 + i * 120, wantTop = 90 * i + 2 * frameNumber;
    const Box rock = Find(frame, x, 0, x + 16, kHeight, [](uint32_t c) { return c == Q(kRock); });
    if (rock.top != wantTop || rock.bottom != wantTop + 15 || rock.left != x || rock.right != x + 15)
      Fail("rock %d at (%d, %d)-(%d, %d), want top %d", i, rock.left, rock.top, rock.right, rock.bottom, wantTop);
  }
  const Box background = Find(frame, 0, 0, kWidth, kHeight, [](uint32_t c) { return c == Q(kBackground); });
  if (background.count < kWidth * kHeight * 9 / 10) Fail("background covers only %d pixels", background.count);
}

void CheckFrame(int frameNumber) {
  switch (frameNumber) {
    case 5: {
      if (DeviceLayer.hardware != (EXAMPLE_SOFTWARE ? 0 : 1))
        Fail("drawing is %s", DeviceLayer.hardware ? "Direct3D" : "software");
      const std::vector<uint32_t> frame = ReadFrame();
      CheckShip(frame, 304, 408);
      CheckRocks(frame, 5);
      break;
    }
    case 15: {  // ten frames with Right held
      const std::vector<uint32_t> frame = ReadFrame();
      CheckShip(frame, 344, 408);
      CheckRocks(frame, 15);
      break;
    }
    case 20: {  // five frames with Down held
      const std::vector<uint32_t> frame = ReadFrame();
      CheckShip(frame, 344, 428);
      CheckRocks(frame, 20);
      break;
    }
    case kLastCheck:  // Z held for three frames: one beep
      if (Plays != 1 || PlaysStarted != 1 || PlayingAfterStart != 1)
        Fail("Z held for three frames: %d plays, %d started, %d playing after the start", Plays, PlaysStarted,
             PlayingAfterStart);
      break;
    default: return;
  }
  ++ChecksRun;
}
#endif

#ifdef EXAMPLE_TEXT
// text_and_filter.cpp: black background; a plain white line in a 16-pixel
// font at (40, 40) underlined in grey (90, 90, 90) at rows 66-67 over its
// measured width; a yellow line with a 2-pixel red edge in a 40-pixel font
// at (40, 100); a 160 x 120 picture at (40, 240) and its
// inverted copy at (360, 240).
constexpr int kEscapeFrom = 6, kLastCheck = 3;

struct TextCall {
  int x, y, font, result;
  std::string text;
  unsigned color, edgeColor;
};
std::vector<TextCall> FrameTexts;

bool Held(int key, int frame) { return key == kKeyEscape && frame >= kEscapeFrom; }

int Channel(uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

// Within 1 in each channel.
bool Near(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8)
    if (Channel(a, shift) - Channel(b, shift) > 1 || Channel(b, shift) - Channel(a, shift) > 1) return false;
  return true;
}

void CheckText(const std::vector<uint32_t>& frame, const TextCall& call, int* inkHeight) {
  const FontRecord* font = GetFontRecord(call.font);
  const int width = MeasureTextWidth(call.text.c_str(), -1, call.font, 0);
  if (call.result != 0 || font == nullptr || width <= 0) {
    Fail("\"%s\": draw %d, font record %p, width %d", call.text.c_str(), call.result, static_cast<const void*>(font),
         width);
    return;
  }
  const int y1 = call.y + font->charHeight < kHeight ? call.y + font->charHeight : kHeight;
  const Box ink = Find(frame, 0, call.y - 4, kWidth, y1, [](uint32_t c) { return c != 0; });
  const int edge = (font->type & 1) ? font->edgeSize : 0;
  if (ink.count == 0 || ink.left < call.x || ink.left > call.x + 4 + edge || ink.right > call.x + width + edge + 2 ||
      ink.right < call.x + width - 6 || ink.top < call.y) {
    Fail("\"%s\" at (%d, %d), %d wide: ink (%d, %d)-(%d, %d)", call.text.c_str(), call.x, call.y, width, ink.left,
         ink.top, ink.right, ink.bottom);
    return;
  }
  *inkHeight = ink.bottom - ink.top + 1;
  int text = 0, edgeColor = 0, between = 0;
  for (int y = ink.top; y <= ink.bottom; y++)
    for (int x = ink.left; x <= ink.right; x++) {
      const uint32_t c = frame[y * kWidth + x];
      if (c == 0) continue;
      if (c == (call.color & 0xFFFFFF)) ++text;
      else if (c == (call.edgeColor & 0xFFFFFF)) ++edgeColor;
      else ++between;
    }
  if (font->type == 0 && (between != 0 || text == 0))
    Fail("plain \"%s\": %d text pixels, %d of other colours", call.text.c_str(), text, between);
  if (font->type == 1 && (text == 0 || edgeColor < text / 4 || between != 0))
    Fail("edged \"%s\": %d text, %d edge pixels, %d of other colours", call.text.c_str(), text, edgeColor, between);
  if (font->type == 0) {  // the underline spans the measured width exactly
    const Box line = Find(frame, 0, 66, kWidth, 68, [](uint32_t c) { return c == 0x5A5A5A; });
    if (line.left != call.x || line.right != call.x + width - 1 || line.count != 2 * width)
      Fail("underline (%d, %d)-(%d, %d), want x %d..%d", line.left, line.top, line.right, line.bottom, call.x,
           call.x + width - 1);
  }
}

void CheckPicture(const std::vector<uint32_t>& frame, int x0, int y0, bool inverted) {
  struct Part {
    int x, y, w, h;
    uint32_t color;
  };
  const Part parts[] = {{2, 2, 156, 56, 0xFF8000}, {2, 62, 76, 56, 0x0040C0}, {82, 62, 76, 56, 0x20A040}};
  for (const Part& part : parts) {
    const uint32_t want = inverted ? (~part.color & 0xFFFFFF) : part.color;
    const Box wrong = Find(frame, x0 + part.x, y0 + part.y, x0 + part.x + part.w, y0 + part.y + part.h,
                           [want](uint32_t c) { return !Near(c, want); });
    if (wrong.count != 0)
      Fail("%s picture: %d pixels of the %06x part differ, first at (%d, %d): %06x", inverted ? "inverted" : "loaded",
           wrong.count, want, wrong.left, wrong.top, frame[wrong.top * kWidth + wrong.left]);
  }
}

void CheckFrame(int frameNumber) {
  if (frameNumber != kLastCheck) return;
  if (FrameTexts.size() != 2) {
    Fail("%d texts drawn, want 2", static_cast<int>(FrameTexts.size()));
    return;
  }
  const std::vector<uint32_t> frame = ReadFrame();
  int small = 0, large = 0;
  CheckText(frame, FrameTexts[0], &small);
  CheckText(frame, FrameTexts[1], &large);
  if (large < small * 2)
    Fail("ink heights %d and %d: the 40-pixel line is not over twice the 16-pixel one", small, large);
  CheckPicture(frame, 40, 240, false);
  CheckPicture(frame, 360, 240, true);
  ++ChecksRun;
}
#endif

}  // namespace

extern "C" int __wrap__Z9IsKeyDowni(int key) { return Held(key, Presents + 1) ? 1 : 0; }

extern "C" int __wrap__Z15PlaySoundHandleiii(int sound, int playType, int fromTop) {
  const int result = __real__Z15PlaySoundHandleiii(sound, playType, fromTop);
#ifdef EXAMPLE_SPRITES
  ++Plays;
  if (result == 0) {
    ++PlaysStarted;
    if (IsSoundHandlePlaying(sound) == 1) ++PlayingAfterStart;
  }
#endif
  return result;
}

extern "C" int __wrap__Z16DrawTextWithFontiiPKcjiji(int x, int y, const char* text, unsigned color, int font,
                                                    unsigned edgeColor, int vertical) {
  const int result = __real__Z16DrawTextWithFontiiPKcjiji(x, y, text, color, font, edgeColor, vertical);
#ifdef EXAMPLE_TEXT
  FrameTexts.push_back({x, y, font, result, text != nullptr ? text : "", color, edgeColor});
#endif
  return result;
}

extern "C" int __wrap__Z17PresentBackBufferv() {
  CheckFrame(Presents + 1);
#ifdef EXAMPLE_TEXT
  FrameTexts.clear();
#endif
  ++Presents;
  return __real__Z17PresentBackBufferv();
}

extern "C" int __wrap__Z15LibraryShutDownv() {
  const int result = __real__Z15LibraryShutDownv();
  if (result != 0) Fail("shut-down gave %d", result);
  if (Presents < kLastCheck) Fail("the example ended after %d frames", Presents);
  printf("%d frames, %d checks\n", Presents, ChecksRun);
  if (Failures == 0 && ChecksRun > 0) printf("PASS\n");
  fflush(stdout);
  return result;
}
