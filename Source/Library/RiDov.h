// RiDov: the game library's public interface. Every call a program makes,
// grouped by subsystem; plain C++ types only (the header pulls in no
// platform header). Handles are non-negative ints; a call given a handle
// that is not live (deleted, of another type, never made) returns -1.
#ifndef RIDOV_H
#define RIDOV_H

#define RIDOV_VERSION_TEXT "3.11d"

// The Windows rectangle (RECT), bitmap header (BITMAPINFO) and window
// (HWND) as the platform declares them; the header does not pull in windows.h.
struct tagRECT;
struct tagBITMAPINFO;
struct HWND__;

extern "C++" {

// ===========================================================================
// Named values of coded arguments. The calls take them as plain ints.

// Draw targets: the screen values of SetDrawTarget and its kin.
enum {
  DRAW_TARGET_BACK_BUFFER = -2,   // the back buffer (what PresentBackBuffer shows)
  DRAW_TARGET_FRONT_SCREEN = -4,  // the front screen
  DRAW_WITHOUT_GRAPHIC = -5,      // DrawVertexPrimitive2D: untextured vertices
};

// Blend modes of SetBlendMode (the parameter, 0..255, is the draw's alpha).
enum {
  BLEND_MODE_NONE = 0,                // plain copy
  BLEND_MODE_ALPHA = 1,               // source x alpha + destination x (1 - alpha)
  BLEND_MODE_ADD = 2,                 // destination + source x alpha
  BLEND_MODE_SUBTRACT = 3,            // destination - source x alpha
  BLEND_MODE_MULTIPLY = 4,            // destination x source
  BLEND_MODE_ADD_DEVICE = 5,          // as ADD on the device; draws nothing in software
  BLEND_MODE_KEEP_6 = 6,              // the device's blend factors stay as they are
  BLEND_MODE_KEEP_7 = 7,              // the same
  BLEND_MODE_DESTINATION = 8,         // the destination stays (draws nothing)
  BLEND_MODE_INVERT_DESTINATION = 9,  // source x (1 - destination)
  BLEND_MODE_INVERT_SOURCE = 10,      // ALPHA of the inverted source (1 - colour)
  BLEND_MODE_MULTIPLY_ALPHA = 11,     // destination x (source x alpha + 1 - alpha)
  BLEND_MODE_ALPHA_X4 = 12,           // ALPHA of four times the source (saturated)
  BLEND_MODE_ADD_X4 = 13,             // ADD of four times the source (saturated)
  BLEND_MODE_REPLACE = 14,            // the source replaces the destination, alpha too
  BLEND_MODE_SOURCE_OVER = 15,        // source + destination x (1 - alpha)
  BLEND_MODE_SUBTRACT_NATIVE = 16,    // SUBTRACT through the device's reverse subtraction
  BLEND_MODE_PREMUL_ALPHA = 17,       // premultiplied-alpha sources: ALPHA
  BLEND_MODE_PREMUL_ADD = 18,         // premultiplied: ADD
  BLEND_MODE_PREMUL_SUBTRACT = 19,    // premultiplied: SUBTRACT
  BLEND_MODE_PREMUL_INVERT_SOURCE = 20,
  BLEND_MODE_PREMUL_ALPHA_X4 = 21,
  BLEND_MODE_PREMUL_ADD_X4 = 22,
  BLEND_MODE_COUNT = 23,
};

// Alpha test of SetAlphaTestModeAndRef: AUTO lets each draw choose; the
// others compare the pixel's alpha with the reference (0..255).
enum {
  ALPHA_TEST_AUTO = -1,
  ALPHA_TEST_NEVER = 1,
  ALPHA_TEST_LESS = 2,
  ALPHA_TEST_EQUAL = 3,
  ALPHA_TEST_LESS_EQUAL = 4,
  ALPHA_TEST_GREATER = 5,
  ALPHA_TEST_NOT_EQUAL = 6,
  ALPHA_TEST_GREATER_EQUAL = 7,
  ALPHA_TEST_ALWAYS = 8,
};

// Texture sampling of SetSamplingMode.
enum { SAMPLING_NEAREST = 0, SAMPLING_BILINEAR = 1, SAMPLING_ANISOTROPIC = 2 };

// Fog of 3-D drawing (SetFogEnable).
enum { FOG_NONE = 0, FOG_EXPONENTIAL = 1, FOG_EXPONENTIAL_SQUARED = 2, FOG_LINEAR = 3 };

// Blend-graphic kinds of SetBlendGraph: MIX takes a ratio (parameters[0]),
// WIPE a position and a border range (parameters[0], [1]), ALPHA none.
enum { BLEND_GRAPH_MIX = 0, BLEND_GRAPH_WIPE = 1, BLEND_GRAPH_ALPHA = 2 };

// Primitive types of DrawVertexPrimitive2D.
enum {
  PRIMITIVE_POINT_LIST = 1,
  PRIMITIVE_LINE_LIST = 2,
  PRIMITIVE_LINE_STRIP = 3,
  PRIMITIVE_TRIANGLE_LIST = 4,
  PRIMITIVE_TRIANGLE_STRIP = 5,
  PRIMITIVE_TRIANGLE_FAN = 6,
};

// Play types of PlaySoundHandle and PlayMovieGraph.
enum { PLAY_TYPE_NORMAL = 0, PLAY_TYPE_BACK = 1, PLAY_TYPE_LOOP = 3 };

// Font types of CreateFontToHandle: bit 0 edge, bit 1 grey levels; 16 and
// 32 supersample four and eight times.
enum {
  FONT_TYPE_NORMAL = 0,
  FONT_TYPE_EDGE_NORMAL = 1,
  FONT_TYPE_ANTIALIASING = 2,
  FONT_TYPE_ANTIALIASING_EDGE = 3,
  FONT_TYPE_ANTIALIASING_4X4 = 18,
  FONT_TYPE_ANTIALIASING_EDGE_4X4 = 19,
  FONT_TYPE_ANTIALIASING_8X8 = 34,
  FONT_TYPE_ANTIALIASING_EDGE_8X8 = 35,
};

// Character sets (CreateFontToHandle, EnumFontFaces).
enum {
  CHAR_SET_DEFAULT = -1,
  CHAR_SET_SINGLE_BYTE = 0,
  CHAR_SET_SHIFT_JIS = 1,
  CHAR_SET_CP949 = 2,
  CHAR_SET_CP950 = 3,
  CHAR_SET_CP936 = 4,
};

// GetPadState: input types (pad number from 1, the keyboard merged with
// INPUT_KEYBOARD_MERGE) and result bits.
enum {
  INPUT_PAD1 = 1,
  INPUT_PAD2 = 2,
  INPUT_PAD3 = 3,
  INPUT_PAD4 = 4,
  INPUT_KEYBOARD_MERGE = 0x1000,
  INPUT_KEY_PAD1 = 0x1001,  // the keyboard and pad 1
};
enum {
  PAD_INPUT_DOWN = 0x1,
  PAD_INPUT_LEFT = 0x2,
  PAD_INPUT_RIGHT = 0x4,
  PAD_INPUT_UP = 0x8,
  PAD_INPUT_BUTTON1 = 0x10,  // button n (0..23) gives PAD_INPUT_BUTTON1 << n
  PAD_INPUT_BUTTON2 = 0x20,
  PAD_INPUT_BUTTON3 = 0x40,
  PAD_INPUT_BUTTON4 = 0x80,
  PAD_INPUT_BUTTON5 = 0x100,
  PAD_INPUT_BUTTON6 = 0x200,
  PAD_INPUT_BUTTON7 = 0x400,
  PAD_INPUT_BUTTON8 = 0x800,
};

// Key codes of IsKeyDown and GetAllKeyStates (DirectInput key codes).
enum {
  KEYCODE_ESCAPE = 0x01,
  KEYCODE_1 = 0x02,
  KEYCODE_2 = 0x03,
  KEYCODE_3 = 0x04,
  KEYCODE_4 = 0x05,
  KEYCODE_5 = 0x06,
  KEYCODE_6 = 0x07,
  KEYCODE_7 = 0x08,
  KEYCODE_8 = 0x09,
  KEYCODE_9 = 0x0A,
  KEYCODE_0 = 0x0B,
  KEYCODE_BACK = 0x0E,
  KEYCODE_TAB = 0x0F,
  KEYCODE_Q = 0x10,
  KEYCODE_W = 0x11,
  KEYCODE_E = 0x12,
  KEYCODE_R = 0x13,
  KEYCODE_T = 0x14,
  KEYCODE_Y = 0x15,
  KEYCODE_U = 0x16,
  KEYCODE_I = 0x17,
  KEYCODE_O = 0x18,
  KEYCODE_P = 0x19,
  KEYCODE_RETURN = 0x1C,
  KEYCODE_LCONTROL = 0x1D,
  KEYCODE_A = 0x1E,
  KEYCODE_S = 0x1F,
  KEYCODE_D = 0x20,
  KEYCODE_F = 0x21,
  KEYCODE_G = 0x22,
  KEYCODE_H = 0x23,
  KEYCODE_J = 0x24,
  KEYCODE_K = 0x25,
  KEYCODE_L = 0x26,
  KEYCODE_LSHIFT = 0x2A,
  KEYCODE_Z = 0x2C,
  KEYCODE_X = 0x2D,
  KEYCODE_C = 0x2E,
  KEYCODE_V = 0x2F,
  KEYCODE_B = 0x30,
  KEYCODE_N = 0x31,
  KEYCODE_M = 0x32,
  KEYCODE_RSHIFT = 0x36,
  KEYCODE_LALT = 0x38,
  KEYCODE_SPACE = 0x39,
  KEYCODE_F1 = 0x3B,
  KEYCODE_F2 = 0x3C,
  KEYCODE_F3 = 0x3D,
  KEYCODE_F4 = 0x3E,
  KEYCODE_F5 = 0x3F,
  KEYCODE_F6 = 0x40,
  KEYCODE_F7 = 0x41,
  KEYCODE_F8 = 0x42,
  KEYCODE_F9 = 0x43,
  KEYCODE_F10 = 0x44,
  KEYCODE_F11 = 0x57,
  KEYCODE_F12 = 0x58,
  KEYCODE_RCONTROL = 0x9D,
  KEYCODE_RALT = 0xB8,
  KEYCODE_HOME = 0xC7,
  KEYCODE_UP = 0xC8,
  KEYCODE_PGUP = 0xC9,
  KEYCODE_LEFT = 0xCB,
  KEYCODE_RIGHT = 0xCD,
  KEYCODE_END = 0xCF,
  KEYCODE_DOWN = 0xD0,
  KEYCODE_PGDN = 0xD1,
  KEYCODE_INSERT = 0xD2,
  KEYCODE_DELETE = 0xD3,
};

// Index types of CreateIndexBufferHandle.
enum { INDEX_TYPE_16BIT = 0, INDEX_TYPE_32BIT = 1 };

// Graphic blends of GraphBlend and GraphBlendRect.
enum {
  GRAPH_BLEND_NORMAL = 0,
  GRAPH_BLEND_MULTIPLE = 2,
  GRAPH_BLEND_DIFFERENCE = 3,
  GRAPH_BLEND_ADD = 4,
  GRAPH_BLEND_SCREEN = 5,
  GRAPH_BLEND_OVERLAY = 6,
  GRAPH_BLEND_DODGE = 7,
  GRAPH_BLEND_BURN = 8,
  GRAPH_BLEND_DARKEN = 9,
  GRAPH_BLEND_LIGHTEN = 10,
  GRAPH_BLEND_SOFT_LIGHT = 11,
  GRAPH_BLEND_HARD_LIGHT = 12,
  GRAPH_BLEND_EXCLUSION = 13,
  GRAPH_BLEND_NORMAL_ALPHA_CH = 14,
  GRAPH_BLEND_ADD_ALPHA_CH = 15,
  GRAPH_BLEND_MULTIPLE_A_ONLY = 16,
};
// Channel selectors of GraphBlendRgbaMix: the source's or the blend graphic's.
enum {
  RGBA_SELECT_SOURCE_R = 0,
  RGBA_SELECT_SOURCE_G = 1,
  RGBA_SELECT_SOURCE_B = 2,
  RGBA_SELECT_SOURCE_A = 3,
  RGBA_SELECT_BLEND_R = 4,
  RGBA_SELECT_BLEND_G = 5,
  RGBA_SELECT_BLEND_B = 6,
  RGBA_SELECT_BLEND_A = 7,
};
// GraphFilterBrightClip comparisons and GraphFilterHsb hue modes.
enum { BRIGHT_CLIP_LESS = 2, BRIGHT_CLIP_GREATER = 5 };
enum { HSB_HUE_RELATIVE = 0, HSB_HUE_ABSOLUTE = 1 };

// ===========================================================================
// Plain records some calls take or give.

// A point or direction in 3-D.
struct Vector3 {
  float x, y, z;
};

// One display mode; all four -1 for an index out of range.
struct DisplayModeEntry {
  int width, height, colorBits, refreshRate;
};

// How a pixel is laid out: a little-endian integer of bytesPerPixel bytes.
struct ColorFormatRecord {
  unsigned char kind;            // 0 plain pixels, 1-5 block-compressed DXT1-DXT5
  unsigned char channelCount;    // wide-channel formats: number of channels, else 0
  unsigned char bitsPerChannel;  // wide-channel formats: bits of each channel, else 0
  unsigned char floatFlag;       // 1 when wide channels hold floating-point values
  unsigned char bytesPerPixel;
  unsigned char bitsPerPixel;
  unsigned char spareShift;
  unsigned char spareWidth;
  unsigned char redWidth, greenWidth, blueWidth, alphaWidth;  // alpha width 0: no alpha
  unsigned char redShift, greenShift, blueShift, alphaShift;
  unsigned int redMask, greenMask, blueMask, alphaMask;
  unsigned int spareMask;         // bits of no channel, ORed into every made pixel
  unsigned char palette[256][4];  // blue, green, red, alpha
};

// A picture in memory (a base image): made by the CreateBaseImage calls or
// LoadImageToBaseImage, freed with ReleaseBaseImage.
struct BaseImageRecord {
  ColorFormatRecord format;
  int width;
  int height;
  int pitch;          // bytes from one row to the next
  void* pixels;       // owned by the record
  int mipLevelCount;  // 0 or 1: one level
  int cubeFlag;       // above 0: six faces, each with its mip chain
};

// Called after the device was lost and every graphic made again.
typedef void (*GraphicsRestoreFunction)();

// ===========================================================================
// Base services: handles and files.

// Deletes a handle of any type (sounds, music, soft sounds, fonts, movies,
// shaders and the types below without a delete of their own): 0 or -1.
int DeleteHandle(int handle);
// Reading files byte by byte (archives stand in for folders). OpenReadFile
// gives -1 when no handle could be made and 0 when the file could not be
// opened; ReadFileChar the next byte as a signed value, -1 at the end.
int OpenReadFile(const char* path, int asyncRead);
int ReadFileChar(int file);
int CloseReadFile(int file);

// ===========================================================================
// Window, start-up and input.

// Start-up and shut-down. 0 on success, -1 on failure.
int LibraryStartUp();
int LibraryShutDown();
// Once a frame: 0 while the program runs, -1 once the window was closed.
int PumpWindowMessages();

// Window caption; windowed (1) or full-screen (0) mode: 0 or -1.
int SetTitleText(const char* text);
int ChangeWindowMode(int windowed);
// 1 keeps the program running while its window is inactive; 0 (the
// default) lets it wait. Before or after start-up. GetRunAlwaysFlag reads it.
int SetAlwaysRunFlag(int flag);
int GetRunAlwaysFlag();
// The main window and the window drawn into (null before start-up).
HWND__* GetMainWindowHandle();
HWND__* GetOutputWindowHandle();
// 1 windowed / 0 full screen; 1 while the window is active; 1 once a close
// was asked for (the window's close box or the end of the program).
int IsWindowedMode();
int IsAppActive();
int IsCloseRequested();
// The desktop's size in pixels and colour bits (any pointer may be null): 0.
int GetDesktopMetrics(int* width, int* height, int* bits);
// Clipboard text. Read: with a null buffer the size a buffer needs, else at
// most bufferSize - 1 bytes and a terminator, 0; -1 on failure. Write: 0 / -1.
int ReadClipboardText(char* buffer, int bufferSize);
int WriteClipboardText(const char* text);
// Mouse cursor shown (1) or hidden (0): 0. Its position in client pixels: 0.
int SetMouseVisibility(int flag);
int GetMousePoint(int* x, int* y);
// How much the window stretches the screen in x and y (either pointer may
// be null); the result is the x rate.
double GetWindowScaleRate(double* x, double* y);

// Log file switch (set before start-up; 0), the log folder (before
// start-up; 0 / -1).
int SetLogFileEnabled(int enabled);
int SetLogFolder(const char* path);
// Clocks: milliseconds of the multimedia timer masked to 31 bits (-1 while
// the timer is unavailable; the argument is not read), microseconds of the
// performance counter (-1 without any clock), and the local date and time.
int GetMillisecondCount(int ignored = 0);
long long GetMicrosecondCount();
int GetLocalTimeFields(int* year, int* month, int* day, int* hour, int* minute, int* second);
// The on-screen log: printf-style lines (a line feed starts the next line;
// older lines scroll away), drawn over every presented frame while its draw
// flag is on. 0 / -1; the getter gives the flag.
int ScreenLogPrintf(const char* format, ...);
int ClearScreenLog();
int SetOnScreenLogDrawFlag(int flag);
int GetOnScreenLogDrawFlag();

// Keyboard: 1 while the key (KEYCODE_*) is held, 0 otherwise (also outside
// 0..255). GetAllKeyStates writes 256 bytes, 1 for each held key.
int IsKeyDown(int keyCode);
int GetAllKeyStates(char* keyStates);
// Pads: GetPadState's input type is INPUT_PAD1.. or with
// INPUT_KEYBOARD_MERGE; the result holds PAD_INPUT_* bits.
int GetPadState(int inputType);
// Number of pads found at start-up; a pad's instance and product names
// (number from 1; either buffer, 260 bytes, may be null): 0 / -1.
int GetPadCount();
int GetPadName(int padNumber, char* instanceName, char* productName);
// Vibration of a pad (number from 1): power 0..10000 for timeMs
// milliseconds (negative: until stopped). 0, or -1 for no such pad.
int StartPadVibration(int padNumber, int power, int timeMs);
int StopPadVibration(int padNumber);

// Characters typed: the bytes of the next one (0, 1 or 2) into out[2],
// taken from the queue when consume is non-zero.
int GetInputChar(char out[2], int consume);
// Line editors. MakeKeyInput: a maximum length in bytes (1..65536), whether
// Escape may cancel, and the single-byte, numeric and double-byte filters;
// the handle, or -1. The active one takes the keys (-1 ends it); Check: 0
// editing, 1 finished with Enter, 2 cancelled, -1 no such handle. The text
// getter copies at most bufferSize - 1 bytes and gives the length or -1.
int MakeKeyInput(int maxLength, int cancelAllowed, int singleByteOnly, int numericOnly, int doubleByteOnly = 0);
int DeleteKeyInputHandle(int handle);
int SetActiveKeyInput(int handle);
int GetActiveKeyInput();
int CheckKeyInput(int handle);
int GetKeyInputString(int handle, char* buffer, int bufferSize);
int SetKeyInputString(int handle, const char* text);
int GetKeyInputCursorPosition(int handle);
int GetKeyInputSelectArea(int handle, int* start, int* end);

// ===========================================================================
// Screen and device.

// Screen size, colour depth and refresh rate: before start-up 0, -1 (not
// available) or -2 (refused); after it the mode changes at once.
// ChangeScreenMode: -1 keeps a value, force re-makes an unchanged mode; 0 / -1.
int SetScreenMode(int width, int height, int colorBits, int refreshRate);
int ChangeScreenMode(int width, int height, int colorBits, int force, int refreshRate);
// Size the window is made for, before start-up; the setting back (0).
void SetScreenSizeSetting(int width, int height);
int GetScreenSizeSetting(int* width, int* height);
// The current screen's size and colour bits (pointers may be null): 0.
int GetScreenModeSize(int* width, int* height, int* colorBits);
// Colour bits of the screen (16 when unset); 1 in full-screen mode.
int GetColorBitDepth();
int IsFullScreenMode();
// The display's modes: their count, one of them, 1 when a size and depth is there.
int GetDisplayModeCount();
DisplayModeEntry GetDisplayModeEntry(int index);
int IsDisplayModeAvailable(int width, int height, int colorBits);
// Drawing through Direct3D (1, the default) or the software renderer (0),
// chosen before start-up: 0, or -1 after it. The getter: 1 / 0.
int SetUseHardwareRendering(int on);
int GetUseHardwareRendering();
// Wait for the vertical blank at each present (1, the default): 0. Getter 1 / 0.
int SetWaitVSync(int wait);
int GetWaitVSync();
// A 320 x 240 screen shown at 640 x 480: 0 / -1.
int SetEmulate320x240(int on);
// The colour ClearDrawTarget fills with, 0..255 each: 0.
int SetBackgroundColor(int red, int green, int blue);
// Shows the back buffer (in the rectangle of the window's client area, or
// all of it with null): 0, -1 before start-up or after the end request.
int PresentBackBuffer();
int PresentBackBufferEx(const tagRECT* rect);
// Loading graphics, sounds and fonts on worker threads (1) or at once (0): 0.
int SetASyncLoadEnabled(int flag);
int IsASyncLoadEnabled();
// A mode in which platform dialog boxes can show over a full screen: 0 / -1.
int SetDialogBoxModeFlag(int flag);
int GetDialogBoxModeFlag();
// Pixel shader model: 0 none, 200 for 2.0, 300 for 3.0.
int GetShaderModelLevel();
// Z test of 3-D drawing on (1) or off (0): 0 / -1.
int SetZBufferEnable(int on);

// User shaders from compiled code: the handle or -1; deleted with
// DeleteHandle. The current shaders (-1: none) and a graphic on a texture
// stage (0..15; -1 empties it) for the drawing that uses them: 0 / -1.
int LoadVertexShaderFromMemory(const void* code, int size);
int LoadPixelShaderFromMemory(const void* code, int size);
int SetCurrentVertexShaderHandle(int handle);
int SetCurrentPixelShaderHandle(int handle);
int SetShaderDrawTexture(int stage, int handle);

// Vertex and index buffers: a device buffer with a system copy kept for a
// device rebuild (index type INDEX_TYPE_*). Writes give -1 and change
// nothing when they do not fit. The handle / 0 / -1.
int CreateVertexBufferHandle(int vertexSize, int vertexCount);
int CreateIndexBufferHandle(int indexCount, int indexType);
int SetVertexBufferData(int start, const void* data, int count, int handle);
int SetIndexBufferData(int start, const void* data, int count, int handle);
int DeleteVertexBufferHandle(int handle);
int DeleteIndexBufferHandle(int handle);

// Shadow maps: data bits 16 or 32, float or integer texels (the handle or
// -1); the light's view is fitted around the area box (or the camera's view
// volume); slots 0 and 1 say which maps 3-D drawing reads (handle 0 or -1:
// none). A map is drawn into by making it the draw target (SetDrawTarget);
// EndShadowMapDraw ends that drawing (0, -1 when none runs).
int MakeShadowMap(int width, int height, int dataBits, int floatData);
int DeleteShadowMap(int handle);
int GetShadowMapSize(int handle, int* width, int* height);
int SetShadowMapLightDirection(int handle, float x, float y, float z);
int SetShadowMapDrawArea(int handle, float minX, float minY, float minZ, float maxX, float maxY, float maxZ);
int SetShadowMapFitViewVolume(int handle, int flag);
int SetUseShadowMap(int slot, int handle);
int EndShadowMapDraw();
// Blur at the end of drawing into a map: the strength (hundredths) of an
// 8-pixel Gauss filter, 0 none; a negative count is refused. The getter
// gives the count, or -1 for anything but a shadow map.
int SetShadowMapBlurCount(int handle, int count);
int GetShadowMapBlurCount(int handle);

// ===========================================================================
// Images and graphics.

// Base images: ARGB 8:8:8:8 or XRGB 8:8:8:8 of the size, cleared (0 / -1);
// freed with ReleaseBaseImage (0). A pixel's channels 0..255 read and
// written (0, -1 outside the image). LoadImageToBaseImage decodes a file
// (memoryFlag 0) or bytes (memoryFlag 1), mirrored with mirrorFlag 1: 0 / -1.
int CreateBaseImageARGB8(int width, int height, BaseImageRecord* image);
int CreateBaseImageXRGB8(int width, int height, BaseImageRecord* image);
int ReleaseBaseImage(BaseImageRecord* image);
int GetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int* red, int* green, int* blue, int* alpha);
int SetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int red, int green, int blue, int alpha);
int LoadImageToBaseImage(const char* fileName, const void* bytes, int byteCount, int memoryFlag, BaseImageRecord* image,
                         int mirrorFlag);
// Soft images: a 32-bit base image behind a handle (alpha or not), its
// pixels cleared; the handle or -1. The image (null for a bad handle).
int MakeSoftImage(int width, int height, int withAlpha);
int DeleteSoftImage(int handle);
BaseImageRecord* GetSoftImageBaseImage(int handle);

// Graphics from files: image files cut into tiles fill handles[0..count-1]
// (0 / -1); one graphic from an image file, or from a movie file no image
// loader accepts (the graphic then shows the movie's current frame on each
// draw); the handle or -1.
int LoadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight, int* handles,
                     int transparent);
int LoadImageGraph(const char* file);
// A graphic from base images (the alpha image may be null): the handle or -1.
int MakeGraphFromBaseImages(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int transparent);
// Graphics from image-file bytes in memory, a GDI bitmap (header with its
// masks or colour table, then the bits; the alpha pair may be null) or a
// soft image, kept as copies for the restore after a device loss. With
// asynchronous loading on, the bytes and bits must stay until the load ends.
// New graphic from image-file bytes (alpha-image bytes optional): the handle or -1.
int MakeGraphFromMemory(const void* bytes, int size, const void* alphaBytes, int alphaSize, int transparent);
// Refills a live graphic of the same size from image-file bytes: 0 or -1.
int ReloadGraphFromMemory(int graphic, const void* bytes, int size, const void* alphaBytes, int alphaSize,
                          int transparent);
// New graphic from a GDI bitmap: the handle or -1.
int MakeGraphFromBitmap(const tagBITMAPINFO* info, const void* bits, const tagBITMAPINFO* alphaInfo,
                        const void* alphaBits, int transparent);
// Refills a live graphic of the same size from a GDI bitmap: 0 or -1.
int ReloadGraphFromBitmap(int graphic, const tagBITMAPINFO* info, const void* bits, const tagBITMAPINFO* alphaInfo,
                          const void* alphaBits, int transparent);
// New graphic holding a copy of a soft image's pixels: the handle or -1.
int MakeGraphFromSoftImage(int softImage, int transparent);
// Tiles from image-file bytes, as LoadImageDivided does from a file: 0 or -1.
int LoadImageDividedFromMemory(const void* bytes, int size, int count, int across, int down, int tileWidth,
                               int tileHeight, int* handles, int transparent);
// Tiles from a GDI bitmap, as LoadImageDivided does from a file: 0 or -1.
int LoadImageDividedFromBitmap(const tagBITMAPINFO* info, const void* bits, int count, int across, int down,
                               int tileWidth, int tileHeight, int* handles, int transparent);
// Refills the live tiles of a grid from a file that covers the grid: 0 or -1.
int ReloadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight,
                       const int* handles, int transparent);
// 1 (default): graphics made afterwards keep their source for the restore; 0: they keep none.
int SetRememberGraphSource(int remember);
// An empty graphic, drawable (a render target) or not, with or without
// alpha; a drawable cube map of size x size per face, faces cleared to 0.
// The handle or -1.
int MakeBlankGraph(int width, int height, int drawable, int alpha);
int MakeBlankCubeGraph(int size, int alpha);
// A graphic showing the rectangle (x, y, width, height) of another (the
// point inside it, the size clipped); the handle or -1.
int CreateDerivedGraph(int x, int y, int width, int height, int source);
// The rectangle (x1, y1)-(x2, y2) of the current draw target copied into
// a graphic of exactly its size: 0 / -1.
int CopyDrawTargetRectToGraph(int x1, int y1, int x2, int y2, int target, int ignored = 0);
// A graphic's size in pixels, the size of its first texture: 0 / -1.
int GetGraphicSize(int handle, int* width, int* height);
int GetGraphTextureSize(int handle, int* width, int* height);
// 1 for a live graphic, else 0.
int IsGraphicHandleValid(int handle);
// Deletes a graphic (the second argument is not read): 0 / -1.
int DeleteGraphicHandle(int handle, int ignored = 0);
// The int is set to 0 now and to 1 when the graphic is deleted or lost: 0 / -1.
int SetGraphicLostFlagPointer(int handle, int* flag);
// Run after every graphic was made again from its source (null: none): 0.
int SetGraphicsRestoreCallback(GraphicsRestoreFunction function);
// A movie graphic plays from its current frame (PLAY_TYPE_BACK once,
// PLAY_TYPE_LOOP looping) and pauses; 0 or -1 for a graphic without a movie.
int PlayMovieGraph(int graphic, int playType);
int PauseMovieGraph(int graphic);

// 3-D camera and projection: position, target and up vector; the screen
// point of the view centre; near and far planes; the vertical field of view
// (radians); an orthographic view of the height; a whole projection matrix
// (row-major, 16 floats); the aspect scale. 0 / -1 each.
int SetCameraPositionAndTarget(float px, float py, float pz, float tx, float ty, float tz, float ux, float uy,
                               float uz);
int SetProjectionCenter(float x, float y);
int SetProjectionNearFar(float zNear, float zFar);
int SetPerspectiveFov(float fov);
int SetOrthoProjection(float viewHeight);
int SetProjectionMatrix(const float m[16]);
int SetProjectionAspectScale(float scale);
// The screen point (x, y, z depth 0..1) back into the world: out.
Vector3* TransformByInverseCombined(Vector3* out, float x, float y, float z);
// Lighting of 3-D drawing on or off; a directional light (the handle or -1),
// its deletion, every light but the standard one: 0 / -1.
int SetUseLighting(int flag);
int CreateDirectionalLight(float dx, float dy, float dz);
int DeleteLightHandle(int handle);
int DeleteAllLightsExceptStandard();
// 1: 3-D drawing tests and writes the Z buffer; 0 (the start): it does not.
int SetUseZBuffer3D(int flag);

// ===========================================================================
// Drawing.

// Where drawing goes: DRAW_TARGET_BACK_BUFFER, DRAW_TARGET_FRONT_SCREEN, a
// drawable graphic or a shadow map: 0 / -1. The getter gives it.
int SetDrawTarget(int target);
int GetDrawTarget();
// Render target of an index: index 0 is the draw target, and with a cube
// render-target graphic (MakeBlankCubeGraph) surface 0..5 names the face
// drawn into; further indices (shaders only) take a render-target graphic,
// or none with -1. 0 or -1.
int SetDrawTargetOfIndex(int index, int graphic, int surface);
// Blend mode (BLEND_MODE_*) and its parameter 0..255: 0.
int SetBlendMode(int mode, int parameter);
// Alpha test (ALPHA_TEST_*) and its reference 0..255: 0. Direct3D drawing
// only; the software renderer has no alpha test.
int SetAlphaTestModeAndRef(int mode, int reference);
// Later draws multiplied by this colour (255, 255, 255 neutral): 0.
int SetDrawTint(int red, int green, int blue);
// Texture sampling (SAMPLING_*): 0. The getter gives it.
int SetSamplingMode(int mode);
int GetSamplingMode();
// Later draws restricted to the rectangle (right and bottom exclusive): 0 / -1.
int SetClipRect(int left, int top, int right, int bottom);
// A drawable graphic as Z buffer (-2 the default one): 0 / -1.
int SetZBufferGraphic(int handle);
// A graphic blended into later image draws (kind BLEND_GRAPH_*; 0 or -1
// ends it) with its parameters; the two-parameter forms: 0 / -1.
int SetBlendGraph(int handle, int kind, const int* parameters);
int SetBlendGraphParam(int handle, int kind, int parameter1, int parameter2);
int SetBlendImageTwoParams(int handle, int parameter1, int parameter2);
// Fog of 3-D drawing (FOG_*), its colour 0..255 each and its range: 0 / -1.
// No public call draws in 3-D yet, so no draw shows fog; 2-D draws take none.
int SetFogEnable(int mode);
int SetFogColor(int red, int green, int blue);
int SetFogRange(float start, float end);
// A colour in the current screen's pixel format, and back to 0..255 each (0).
unsigned int MakeColorValue(int red, int green, int blue);
int SplitColorValue(unsigned int value, int* red, int* green, int* blue);

// Clears the draw target, or a rectangle of it (null: the whole target).
int ClearDrawTarget(const tagRECT* rect);

// Image draws, 0 on success or when the clip area is empty, -1 on failure.
// The transparency flag honours the image's transparency; the turn flag
// mirrors left-right; angles are radians.
int DrawImageAt(int x, int y, int graphic, int transparent);
int DrawImageAtF(float x, float y, int graphic, int transparent);
// Stretched into the rectangle (x1, y1)-(x2, y2).
int DrawImageStretched(int x1, int y1, int x2, int y2, int graphic, int transparent);
int DrawImageStretchedF(float x1, float y1, float x2, float y2, int graphic, int transparent);
// Mirrored left-right with its top-left at (x, y).
int DrawImageTurned(int x, int y, int graphic, int transparent);
int DrawImageTurnedF(float x, float y, int graphic, int transparent);
// The rectangle (sourceX, sourceY, width, height) of a graphic at (x, y).
int DrawImageRect(int x, int y, int sourceX, int sourceY, int width, int height, int graphic, int transparent,
                  int turn);
// Centred on (x, y), scaled and turned.
int DrawImageRotated(float x, float y, double scale, double angle, int graphic, int transparent, int turn);
// Its point (centerX, centerY) on (x, y), scaled and turned about it.
int DrawImageRotatedAbout(int x, int y, int centerX, int centerY, double scale, double angle, int graphic,
                          int transparent, int turn);
int DrawImageRotatedScaledXY(int x, int y, int centerX, int centerY, double scaleX, double scaleY, double angle,
                             int graphic, int transparent, int turn);
// The rectangle (x, y, width, height) of a graphic stretched into the float
// rectangle (x1, y1)-(x2, y2); -1 when width or height is below 1.
int DrawGraphRectStretchedF(float x1, float y1, float x2, float y2, int x, int y, int width, int height, int graphic,
                            int transparent);
// Corners: top-left, top-right, bottom-right, bottom-left of the image.
int DrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graphic,
                  int transparent);
// Pre-transformed vertices of 28 bytes (x, y, z, rhw as floats, colour
// 0xAARRGGBB, u, v) as primitives (PRIMITIVE_*) with a graphic, or none
// with DRAW_WITHOUT_GRAPHIC: 0 / -1.
int DrawVertexPrimitive2D(const void* vertices, int count, int type, int graphic, int transparent);

// Shapes; colours come from MakeColorValue.
int DrawRectShape(int x1, int y1, int x2, int y2, unsigned int color, int fill);
int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill, int thickness);
int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill);

// ===========================================================================
// Fonts and text.

// A font: -1 selects the default for size, thickness, type (FONT_TYPE_*),
// character set (CHAR_SET_*) and edge size; reuseHandle -1 makes a new
// handle. The handle or -1; deleted with DeleteHandle.
int CreateFontToHandle(const char* faceName, int size, int thickness, int fontType, int charSet, int edgeSize,
                       int italic, int reuseHandle);
// Text drawn with its top-left at (x, y) (vertical 1: top to bottom): 0 / -1.
int DrawTextWithFont(int x, int y, const char* text, unsigned int color, int font, unsigned int edgeColor,
                     int vertical);
// Width in pixels of the first length bytes of the text, or -1.
int MeasureTextWidth(const char* text, int length, int font, int vertical);
// Extra pixels between characters: 0 / -1.
int SetFontCharSpacing(int spacing, int handle);
// A font's face name (128 bytes), size and thickness (pointers may be
// null): 0 / -1. Its size alone, or -1.
int GetFontHandleInfo(char* name, int* size, int* thickness, int handle);
int GetFontHandleSize(int handle);
// 1 for a live font, else 0.
int IsFontHandleValid(int handle);
// The default font (used where a call takes font -1) and its settings: 0 / -1.
int GetDefaultFontHandle();
int SetDefaultFontNameSizeThickness(const char* name, int size, int thickness);
// Installed faces named like faceName (null: all) of a character set:
// 64-byte names into buffer (null counts only); the count or -1.
int EnumFontFaces(char* buffer, int maxCount, const char* faceName, int charSet);
// The int is set to 0 now and to 1 when the font is deleted or lost: 0 / -1.
int SetFontLostFlagPointer(int handle, int* flag);

// ===========================================================================
// Sound and music.

// A sound from a WAV, Ogg Vorbis or MP3 file with bufferCount play buffers
// (how often it can sound at once); the handle or -1; deleted with DeleteHandle.
int LoadSoundFile(const char* file, int bufferCount, int sharedStreamHandle);
// Play (PLAY_TYPE_*; fromTop 0 resumes where it stopped), stop: 0 / -1.
int PlaySoundHandle(int sound, int playType, int fromTop);
int StopSoundHandle(int sound);
// Before start-up: 0 XAudio2 first, 1 DirectSound through DirectMusic; 0 or -1.
int SetSoundOutputMode(int mode);
// 1 playing, 0 not, -1 invalid; the position and the length in
// milliseconds; the length in samples. -1 for a bad handle.
int IsSoundHandlePlaying(int sound);
int GetSoundPlayPosition(int sound);
int GetSoundTotalTime(int sound);
int GetSoundTotalSamples(int sound);
// A sound's volume, pan and frequency have no public setter yet.
// The listener of 3-D sound: position, front and up; its cone: 0 / -1.
int SetSound3DListener(const Vector3* position, const Vector3* front, const Vector3* up);
int SetSound3DListenerCone(float innerAngle, float outerAngle, float innerVolume, float outerVolume);
// Soft sounds: sample blocks of 1 or 2 channels, 8 or 16 bits at a rate;
// their sample count; a sample written or read (0 / -1). Players of one
// format take blocks of the same format and play them in order;
// IsSoftSoundPlayerPlayedOut is 1 once all their data has played. Handles
// or -1; deleted with DeleteHandle.
int MakeSoftSound(int channels, int bits, int rate, int sampleCount);
int GetSoftSoundSampleCount(int handle);
int WriteSoftSoundSample(int handle, int index, int channel1, int channel2);
int ReadSoftSoundSample(int handle, int index, int* channel1, int* channel2);
int MakeSoftSoundPlayer(int channels, int bits, int rate);
int AddSoftSoundPlayerData(int player, int softSound);
int StartSoftSoundPlayer(int player);
int StopSoftSoundPlayer(int player);
int IsSoftSoundPlayerPlayedOut(int player);
// Music (MIDI) from a file or memory: the handle or -1 (deleted with
// DeleteHandle); played once or looping, stopped (0 / -1); 1 playing, 0
// not, -1 invalid.
int LoadMusicFile(const char* path);
int LoadMusicMemory(const void* data, int size);
int PlayMusicHandle(int handle, int loop);
int StopMusicHandle(int handle);
int IsMusicHandlePlaying(int handle);

// ===========================================================================
// Graphic filters and blends, in place over a whole graphic: Mono (Cb, Cr
// -255..255), Gauss (pixel width 8 / 16 / 32, strength in hundredths),
// BrightClip (BRIGHT_CLIP_*, threshold 0..255, fill flag, fill colour as
// MakeColorValue gives it and its alpha), Hsb (HSB_HUE_*, hue in degrees,
// saturation and brightness -255..255), Invert, Level (input range, gamma in
// hundredths, output range; an empty input range is refused), TwoColor
// (threshold, two colours with alphas), GradientMap (a gradient graphic's
// first row, reverse flag), the two alpha conversions. DownScale (2, 4, 8)
// writes the shrunk picture at the destination's top-left. 0, or -1 when
// refused.
int GraphFilterMono(int graphic, int cb, int cr);
int GraphFilterGauss(int graphic, int pixelWidth, int strength);
int GraphFilterDownScale(int source, int dest, int divisor);
int GraphFilterBrightClip(int graphic, int compare, int threshold, int fill, unsigned int fillColor, int fillAlpha);
int GraphFilterHsb(int graphic, int hueMode, int hue, int saturation, int brightness);
int GraphFilterInvert(int graphic);
int GraphFilterLevel(int graphic, int minimum, int maximum, int gamma, int outMinimum, int outMaximum);
int GraphFilterTwoColor(int graphic, int threshold, unsigned int darkColor, int darkAlpha, unsigned int brightColor,
                        int brightAlpha);
int GraphFilterGradientMap(int graphic, int gradient, int reverse);
int GraphFilterPremultipliedAlpha(int graphic);
int GraphFilterInterpolatedAlpha(int graphic);
// Blends of a source with a blend graphic into a destination, ratio 0..255,
// type GRAPH_BLEND_*; the RGBA mix takes each output channel from a
// selector (RGBA_SELECT_*). The rectangle form reads the blend graphic from
// (blendX, blendY) and writes at (destX, destY). 0 / -1.
int GraphBlend(int source, int blend, int dest, int ratio, int type);
int GraphBlendRgbaMix(int source, int blend, int dest, int red, int green, int blue, int alpha);
int GraphBlendRect(int source, int x1, int y1, int x2, int y2, int blend, int blendX, int blendY, int dest, int destX,
                   int destY, int ratio, int type);

}  // extern "C++"

#endif  // RIDOV_H
