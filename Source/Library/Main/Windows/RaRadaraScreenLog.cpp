// The on-screen log: a text area of 80 lines drawn over the frame before a
// present while its draw flag is on, with its own 16-pixel font (created on
// first use and again whenever the font system deletes it); lines are added
// printf-style and scroll up when the visible lines are full.
// Threads: main thread.
// Platform: none directly (fonts and drawing).
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "VeRavoroString.h"
#include "VeVidu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"

namespace {

enum {
  SCREEN_LOG_LINES = 80,
  SCREEN_LOG_LINE_BYTES = 255,
  SCREEN_LOG_FONT_SIZE = 16,
  SCREEN_LOG_FONT_THICKNESS = 4,
  SCREEN_LOG_FORMAT_BYTES = 1024,
};

struct ScreenLogState {
  int started;
  int fontSize;
  int font;      // -1 while none
  int fontLost;  // 1 while the font must be created (the font system sets it)
  char lines[SCREEN_LOG_LINES][SCREEN_LOG_LINE_BYTES];
  int lineCount;  // lines filled
  int column;     // bytes in the line being written
  int drawFlag;
};
ScreenLogState ScreenLog = {0, SCREEN_LOG_FONT_SIZE, -1, 1, {}, 0, 0, 0};

// Lines that fit on the screen (at most 80).
int VisibleLines() {
  int width = 0, height = 0;
  GetScreenSizeSetting(&width, &height);
  const int lines = height / ScreenLog.fontSize;
  return lines < SCREEN_LOG_LINES ? lines : SCREEN_LOG_LINES;
}

void EnsureScreenLogFont() {
  if (!ScreenLog.started && StartScreenLog() < 0) return;
  if (!ScreenLog.fontLost) return;
  FontCreateSettings settings;
  GetFontCreateSettings(&settings);
  FontRequest font;
  font.size = ScreenLog.fontSize;
  font.thickness = SCREEN_LOG_FONT_THICKNESS;
  font.type = FONT_TYPE_EDGE_NORMAL;
  ScreenLog.font = AllocateFontHandle(&settings, font, -1, 0);
  if (ScreenLog.font < 0) return;
  ScreenLog.fontLost = 0;
  SetFontLostFlagPointer(ScreenLog.font, &ScreenLog.fontLost);
}

// Starts a new line, scrolling the area up when the visible lines are full.
void NewScreenLogLine() {
  int limit = VisibleLines();
  if (limit < 1) limit = 1;
  ScreenLog.column = 0;
  if (ScreenLog.lineCount > limit) {
    // The screen shrank since these lines came: keep the newest that fit.
    const int drop = ScreenLog.lineCount - limit;
    memmove(ScreenLog.lines[0], ScreenLog.lines[drop], static_cast<size_t>(limit) * SCREEN_LOG_LINE_BYTES);
    memset(ScreenLog.lines[limit], 0, static_cast<size_t>(drop) * SCREEN_LOG_LINE_BYTES);
    ScreenLog.lineCount = limit;
  }
  if (ScreenLog.lineCount < limit) {
    ScreenLog.lineCount++;
  } else {
    memmove(ScreenLog.lines[0], ScreenLog.lines[1], static_cast<size_t>(limit - 1) * SCREEN_LOG_LINE_BYTES);
  }
  memset(ScreenLog.lines[ScreenLog.lineCount - 1], 0, SCREEN_LOG_LINE_BYTES);
}

}  // namespace

int StartScreenLog() {
  if (!HasDirectDrawAndMainWindow()) return -1;
  if (ScreenLog.started) return 0;
  ScreenLog.started = 1;
  ScreenLog.fontSize = SCREEN_LOG_FONT_SIZE;
  ScreenLog.font = -1;
  ScreenLog.fontLost = 1;
  EnsureScreenLogFont();
  ScreenLog.drawFlag = 0;
  ScreenLog.lineCount = 0;
  ScreenLog.column = 0;
  memset(ScreenLog.lines, 0, sizeof ScreenLog.lines);
  return 0;
}

void EndScreenLog() {
  if (!ScreenLog.started) return;
  if (!ScreenLog.fontLost && ScreenLog.font >= 0) DeleteHandle(ScreenLog.font);
  ScreenLog.fontLost = 1;
  ScreenLog.font = -1;
  ScreenLog.started = 0;
}

void DrawOnScreenLog() {
  EnsureScreenLogFont();
  if (ScreenLog.fontLost) return;
  const int lines = VisibleLines();
  if (lines < 1) return;
  const unsigned int white = MakeColorValue(255, 255, 255), black = MakeColorValue(0, 0, 0);
  // The newest lines when more are kept than fit (the screen shrank).
  const int first = ScreenLog.lineCount > lines ? ScreenLog.lineCount - lines : 0;
  for (int i = 0; i < lines && first + i < ScreenLog.lineCount; i++)
    if (ScreenLog.lines[first + i][0] != 0)
      DrawTextWithFont(0, ScreenLog.fontSize * i, ScreenLog.lines[first + i], white, ScreenLog.font, black, 0);
}

int GetOnScreenLogDrawFlag() { return ScreenLog.drawFlag; }

int SetOnScreenLogDrawFlag(int flag) {
  ScreenLog.drawFlag = flag ? 1 : 0;
  return 0;
}

int DrawOnScreenLogOverFrame() {
  if (!ScreenLog.drawFlag || !ScreenLog.started) return 0;
  const RECT area = CurrentDrawState.drawArea;
  const int mode = CurrentDrawState.blendMode, param = CurrentDrawState.blendParam;
  const uint32_t tint = CurrentDrawState.brightness;
  int width = 0, height = 0;
  GetScreenSizeSetting(&width, &height);
  SetClipRect(0, 0, width, height);
  SetBlendMode(BLEND_MODE_NONE, 255);
  SetDrawTintPacked(0xFFFFFF);
  DrawOnScreenLog();
  SetDrawTintPacked(tint);
  SetBlendMode(mode, param);
  SetClipRect(area.left, area.top, area.right, area.bottom);
  return 0;
}

int ScreenLogPrintf(const char* format, ...) {
  if (format == nullptr) return -1;
  if (!ScreenLog.started && StartScreenLog() < 0) return -1;
  char text[SCREEN_LOG_FORMAT_BYTES];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (ScreenLog.lineCount == 0) NewScreenLogLine();
  const int charSet = GetCharSet();
  for (const char* p = text; *p != 0; p++) {
    if (*p == '\n') {
      NewScreenLogLine();
      continue;
    }
    // A double-byte character goes whole onto the next line when only one
    // byte is left in this one.
    const int bytes = GetCharBytePositionKind(p, 0, charSet) == 1 ? 2 : 1;
    if (ScreenLog.column + bytes > SCREEN_LOG_LINE_BYTES - 1) NewScreenLogLine();
    char* line = ScreenLog.lines[ScreenLog.lineCount - 1];
    line[ScreenLog.column++] = *p;
    if (bytes == 2) line[ScreenLog.column++] = *++p;
  }
  return 0;
}

int ClearScreenLog() {
  memset(ScreenLog.lines, 0, sizeof ScreenLog.lines);
  ScreenLog.lineCount = 0;
  ScreenLog.column = 0;
  return 0;
}
