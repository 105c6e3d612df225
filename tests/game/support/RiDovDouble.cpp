#include "RiDovDouble.h"

#include <stdio.h>

#include <deque>
#include <map>

#include "RiDov.h"

namespace ridov_double {
namespace {

struct State {
  std::vector<std::string> calls;
  std::map<std::string, std::deque<int>> scripts;
  std::map<std::string, int> defaults;
  unsigned int clock = 0;
  int padState = 0;
  std::deque<int> padScript;
  unsigned char keys[256] = {};
  int colorBits = 32;
  int fontCount = 0;
  int soundCount = 0;
  int imageLoadCount = 0;
};

State& S() {
  static State state;
  return state;
}

std::string Arg(int v) { return std::to_string(v); }
std::string Arg(unsigned int v) { return Hex(v); }
std::string Arg(float v) { return Num(v); }
std::string Arg(double v) { return Num(v); }
std::string Arg(const char* s) { return s != nullptr ? "\"" + std::string(s) + "\"" : "null"; }
std::string Arg(const void* p) { return p != nullptr ? "ptr" : "null"; }

void Join(std::string*, bool) {}
template <typename T, typename... Rest>
void Join(std::string* out, bool first, T arg, Rest... rest) {
  if (!first) *out += ",";
  *out += Arg(arg);
  Join(out, false, rest...);
}

template <typename... Args>
void Log(const char* name, Args... args) {
  std::string line = std::string(name) + "(";
  Join(&line, true, args...);
  line += ")";
  S().calls.push_back(line);
}

bool TakeScripted(const std::string& name, int* result) {
  auto it = S().scripts.find(name);
  if (it == S().scripts.end() || it->second.empty()) return false;
  *result = it->second.front();
  it->second.pop_front();
  return true;
}

int Result(const std::string& name, int fallback) {
  int result;
  if (TakeScripted(name, &result)) return result;
  auto it = S().defaults.find(name);
  return it != S().defaults.end() ? it->second : fallback;
}

}  // namespace

void Reset() { S() = State(); }
const std::vector<std::string>& Calls() { return S().calls; }
void ClearCalls() { S().calls.clear(); }

std::vector<std::string> CallsOf(const std::string& name) {
  std::vector<std::string> out;
  for (const std::string& c : S().calls)
    if (c.compare(0, name.size() + 1, name + "(") == 0) out.push_back(c);
  return out;
}

int CountOf(const std::string& name) { return static_cast<int>(CallsOf(name).size()); }
void Record(const std::string& line) { S().calls.push_back(line); }

void QueueResults(const std::string& name, std::initializer_list<int> results) {
  for (int r : results) S().scripts[name].push_back(r);
}

void SetDefaultResult(const std::string& name, int result) { S().defaults[name] = result; }

void SetClock(unsigned int milliseconds) { S().clock = milliseconds & 0x7fffffffu; }
void AdvanceClock(unsigned int milliseconds) { SetClock(S().clock + milliseconds); }
unsigned int Clock() { return S().clock; }

void FakeSleep(unsigned int milliseconds) {
  Record("Sleep(" + std::to_string(milliseconds) + ")");
  AdvanceClock(milliseconds);
}

void SetPadState(int state) { S().padState = state; }
void QueuePadStates(std::initializer_list<int> states) {
  for (int s : states) S().padScript.push_back(s);
}
void SetKeyDown(int keyCode, bool down) { S().keys[keyCode & 0xFF] = down ? 1 : 0; }
void SetColorBits(int bits) { S().colorBits = bits; }

std::string Num(double value) {
  char text[64];
  snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string Hex(unsigned int value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace ridov_double

using namespace ridov_double;

int LibraryStartUp() {
  Log("LibraryStartUp");
  return Result("LibraryStartUp", 0);
}

int LibraryShutDown() {
  Log("LibraryShutDown");
  return Result("LibraryShutDown", 0);
}

int PumpWindowMessages() {
  Log("PumpWindowMessages");
  return Result("PumpWindowMessages", 0);
}

int SetTitleText(const char* text) {
  Log("SetTitleText", text);
  return Result("SetTitleText", 0);
}

int ChangeWindowMode(int windowed) {
  Log("ChangeWindowMode", windowed);
  return Result("ChangeWindowMode", 0);
}

int SetAlwaysRunFlag(int flag) {
  Log("SetAlwaysRunFlag", flag);
  return Result("SetAlwaysRunFlag", 0);
}

int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
  Log("SetScreenMode", width, height, colorBits, refreshRate);
  return Result("SetScreenMode", 0);
}

int PresentBackBuffer() {
  Log("PresentBackBuffer");
  return Result("PresentBackBuffer", 0);
}

int SetLogFileEnabled(int enabled) {
  Log("SetLogFileEnabled", enabled);
  return Result("SetLogFileEnabled", 0);
}

int GetMillisecondCount(int ignored) {
  Log("GetMillisecondCount", ignored);
  return Result("GetMillisecondCount", static_cast<int>(Clock()));
}

int GetAllKeyStates(char* keyStates) {
  Log("GetAllKeyStates", static_cast<const void*>(keyStates));
  int result = Result("GetAllKeyStates", 0);
  if (result == 0 && keyStates != nullptr)
    for (int i = 0; i < 256; ++i) keyStates[i] = static_cast<char>(S().keys[i]);
  return result;
}

int GetPadState(int inputType) {
  Log("GetPadState", inputType);
  if (!S().padScript.empty()) {
    int state = S().padScript.front();
    S().padScript.pop_front();
    return state;
  }
  return S().padState;
}

int SetDrawTarget(int target) {
  Log("SetDrawTarget", target);
  return Result("SetDrawTarget", 0);
}

int SetBlendMode(int mode, int parameter) {
  Log("SetBlendMode", mode, parameter);
  return Result("SetBlendMode", 0);
}

int SetDrawTint(int red, int green, int blue) {
  Log("SetDrawTint", red, green, blue);
  return Result("SetDrawTint", 0);
}

int SetSamplingMode(int mode) {
  Log("SetSamplingMode", mode);
  return Result("SetSamplingMode", 0);
}

int SetClipRect(int left, int top, int right, int bottom) {
  Log("SetClipRect", left, top, right, bottom);
  return Result("SetClipRect", 0);
}

unsigned int MakeColorValue(int red, int green, int blue) {
  Log("MakeColorValue", red, green, blue);
  unsigned int r = red & 0xFF, g = green & 0xFF, b = blue & 0xFF;
  if (S().colorBits == 16) return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
  return 0xFF000000u | r << 16 | g << 8 | b;
}

int ClearDrawTarget(const tagRECT* rect) {
  Log("ClearDrawTarget", static_cast<const void*>(rect));
  return Result("ClearDrawTarget", 0);
}

int DrawImageAt(int x, int y, int graphic, int transparent) {
  Log("DrawImageAt", x, y, graphic, transparent);
  return Result("DrawImageAt", 0);
}

int DrawImageRotated(float x, float y, double scale, double angle, int graphic, int transparent, int turn) {
  Log("DrawImageRotated", x, y, scale, angle, graphic, transparent, turn);
  return Result("DrawImageRotated", 0);
}

int DrawImageRotatedAbout(int x, int y, int centerX, int centerY, double scale, double angle, int graphic,
                          int transparent, int turn) {
  Log("DrawImageRotatedAbout", x, y, centerX, centerY, scale, angle, graphic, transparent, turn);
  return Result("DrawImageRotatedAbout", 0);
}

int DrawImageRotatedScaledXY(int x, int y, int centerX, int centerY, double scaleX, double scaleY, double angle,
                             int graphic, int transparent, int turn) {
  Log("DrawImageRotatedScaledXY", x, y, centerX, centerY, scaleX, scaleY, angle, graphic, transparent, turn);
  return Result("DrawImageRotatedScaledXY", 0);
}

int DrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graphic,
                  int transparent) {
  Log("DrawImageQuad", x1, y1, x2, y2, x3, y3, x4, y4, graphic, transparent);
  return Result("DrawImageQuad", 0);
}

int DrawRectShape(int x1, int y1, int x2, int y2, unsigned int color, int fill) {
  Log("DrawRectShape", x1, y1, x2, y2, color, fill);
  return Result("DrawRectShape", 0);
}

int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill, int thickness) {
  Log("DrawCircleShape", x, y, radius, color, fill, thickness);
  return Result("DrawCircleShape", 0);
}

int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill) {
  Log("DrawTriangleShape", x1, y1, x2, y2, x3, y3, color, fill);
  return Result("DrawTriangleShape", 0);
}

int LoadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight, int* handles,
                     int transparent) {
  Log("LoadImageDivided", file, count, across, down, tileWidth, tileHeight, transparent);
  int result = Result("LoadImageDivided", 0);
  int load = ++S().imageLoadCount;
  if (result == 0 && handles != nullptr)
    for (int i = 0; i < count; ++i) handles[i] = load * 1000 + i;
  return result;
}

int LoadImageGraph(const char* file) {
  Log("LoadImageGraph", file);
  return Result("LoadImageGraph", ++S().imageLoadCount * 1000);
}

int PlayMovieGraph(int graphic, int playType) {
  Log("PlayMovieGraph", graphic, playType);
  return Result("PlayMovieGraph", 0);
}

int PauseMovieGraph(int graphic) {
  Log("PauseMovieGraph", graphic);
  return Result("PauseMovieGraph", 0);
}

int CreateFontToHandle(const char* faceName, int size, int thickness, int fontType, int charSet, int edgeSize,
                       int italic, int reuseHandle) {
  Log("CreateFontToHandle", faceName, size, thickness, fontType, charSet, edgeSize, italic, reuseHandle);
  return Result("CreateFontToHandle", 0x20000000 + ++S().fontCount);
}

int DrawTextWithFont(int x, int y, const char* text, unsigned int color, int font, unsigned int edgeColor,
                     int vertical) {
  Log("DrawTextWithFont", x, y, text, color, font, edgeColor, vertical);
  return Result("DrawTextWithFont", 0);
}

int MeasureTextWidth(const char* text, int length, int font, int vertical) {
  Log("MeasureTextWidth", text, length, font, vertical);
  return Result("MeasureTextWidth", 0);
}

int LoadSoundFile(const char* file, int bufferCount, int sharedStreamHandle) {
  Log("LoadSoundFile", file, bufferCount, sharedStreamHandle);
  return Result("LoadSoundFile", 0x0C000000 + ++S().soundCount);
}

int PlaySoundHandle(int sound, int playType, int fromTop) {
  Log("PlaySoundHandle", sound, playType, fromTop);
  return Result("PlaySoundHandle", 0);
}

int StopSoundHandle(int sound) {
  Log("StopSoundHandle", sound);
  return Result("StopSoundHandle", 0);
}

int OpenReadFile(const char* path, int asyncRead) {
  Log("OpenReadFile", path, asyncRead);
  return Result("OpenReadFile", 0);
}

int ReadFileChar(int file) {
  Log("ReadFileChar", file);
  return Result("ReadFileChar", -1);
}

int CloseReadFile(int file) {
  Log("CloseReadFile", file);
  return Result("CloseReadFile", 0);
}
