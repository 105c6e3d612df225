// RiDov: the game library's public interface.
#ifndef RIDOV_H
#define RIDOV_H

#define RIDOV_VERSION_TEXT "3.11d"

// The Windows rectangle (RECT); the header does not pull in windows.h.
struct tagRECT;

extern "C++" {

// Start-up and shut-down. 0 on success, -1 on failure.
int LibraryStartUp();
int LibraryShutDown();

// Once a frame: 0 while the program runs, -1 once the window was closed.
int PumpWindowMessages();

// Window caption; windowed (1) or full-screen (0) mode.
int SetTitleText(const char* text);
int ChangeWindowMode(int windowed);
// 1 keeps the program running while its window is inactive; 0 (the
// default) lets it wait. Before or after start-up.
int SetAlwaysRunFlag(int flag);

// Screen size, colour depth and refresh rate, set before start-up: 0, -1 or -2.
int SetScreenMode(int width, int height, int colorBits, int refreshRate);
// Shows the back buffer.
int PresentBackBuffer();

// Log file switch (set before start-up) and the millisecond clock: the
// multimedia timer masked to 31 bits, -1 while the timer is unavailable.
// The argument is not read.
int SetLogFileEnabled(int enabled);
int GetMillisecondCount(int ignored);

// Keyboard and pads. GetAllKeyStates writes 256 bytes, 1 for each held key,
// indexed by DirectInput key code. GetPadState: bits 0-11 of the input type
// hold the pad number from 1, 0x1000 merges the keyboard; result bits 0x1
// down, 0x2 left, 0x4 right, 0x8 up, then one bit per button from 0x10.
int GetAllKeyStates(char* keyStates);
int GetPadState(int inputType);

// Draw state. Screen draw targets: -2 the back buffer, -4 the front screen.
int SetDrawTarget(int target);
int SetBlendMode(int mode, int parameter);
int SetDrawTint(int red, int green, int blue);
int SetSamplingMode(int mode);
int SetClipRect(int left, int top, int right, int bottom);
// 1: 3-D drawing tests and writes the Z buffer; 0 (the start): it does not.
int SetUseZBuffer3D(int flag);
// Render target of an index: index 0 is the draw target, and with a cube
// render-target graphic (MakeBlankCubeGraph) surface 0..5 names the face
// drawn into; further indices (shaders only) take a render-target graphic,
// or none with -1. 0 or -1.
int SetDrawTargetOfIndex(int index, int graphic, int surface);
// A drawable cube map of size x size per face, the faces cleared to 0; the
// handle or -1.
int MakeBlankCubeGraph(int size, int alpha);
// A colour in the current screen's pixel format.
unsigned int MakeColorValue(int red, int green, int blue);

// Clears the draw target, or a rectangle of it (null: the whole target).
int ClearDrawTarget(const tagRECT* rect);

// Image draws. The transparency flag honours the image's transparent colour;
// the turn flag mirrors left-right.
int DrawImageAt(int x, int y, int graphic, int transparent);
int DrawImageRotated(float x, float y, double scale, double angle, int graphic, int transparent,
                     int turn);
int DrawImageRotatedAbout(int x, int y, int centerX, int centerY, double scale, double angle,
                          int graphic, int transparent, int turn);
int DrawImageRotatedScaledXY(int x, int y, int centerX, int centerY, double scaleX,
                             double scaleY, double angle, int graphic, int transparent, int turn);
// The rectangle (x, y, width, height) of a graphic stretched into the float
// rectangle (x1, y1)-(x2, y2); -1 when width or height is below 1.
int DrawGraphRectStretchedF(float x1, float y1, float x2, float y2, int x, int y, int width, int height,
                            int graphic, int transparent);
// Corners: top-left, top-right, bottom-right, bottom-left of the image.
int DrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                  int graphic, int transparent);

// Shapes; colours come from MakeColorValue.
int DrawRectShape(int x1, int y1, int x2, int y2, unsigned int color, int fill);
int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill, int thickness);
int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color,
                      int fill);

// Image files cut into tiles: fills handles[0..count-1]; 0 or -1.
int LoadImageDivided(const char* file, int count, int across, int down, int tileWidth,
                     int tileHeight, int* handles, int transparent);
// One graphic from an image file, or from a movie file no image loader
// accepts (the graphic then shows the movie's current frame on each draw);
// the handle or -1. A movie graphic plays from its current frame (play type
// 1 once, 3 looping) and pauses; 0 or -1 for a graphic without a movie.
int LoadImageGraph(const char* file);
int PlayMovieGraph(int graphic, int playType);
int PauseMovieGraph(int graphic);

// Fonts and text. -1 selects the default for size, thickness, type,
// character set and edge size; reuseHandle -1 makes a new handle.
int CreateFontToHandle(const char* faceName, int size, int thickness, int fontType, int charSet,
                       int edgeSize, int italic, int reuseHandle);
int DrawTextWithFont(int x, int y, const char* text, unsigned int color, int font,
                     unsigned int edgeColor, int vertical);
int MeasureTextWidth(const char* text, int length, int font, int vertical);
// The on-screen log: printf-style lines (a line feed starts the next line;
// older lines scroll away), drawn over every presented frame while its draw
// flag is on.
int ScreenLogPrintf(const char* format, ...);
int ClearScreenLog();
int SetOnScreenLogDrawFlag(int flag);
int GetOnScreenLogDrawFlag();

// Sounds. Play types: 0 wait for the end, 1 background, 3 loop.
int LoadSoundFile(const char* file, int bufferCount, int sharedStreamHandle);
int PlaySoundHandle(int sound, int playType, int fromTop);
int StopSoundHandle(int sound);

// Reading files byte by byte. OpenReadFile gives -1 when no handle could be
// made and 0 when the file could not be opened; ReadFileChar gives the next
// byte as a signed value, -1 at the end.
int OpenReadFile(const char* path, int asyncRead);
int ReadFileChar(int file);
int CloseReadFile(int file);

// Vertex and index buffers: a device buffer with a system copy kept for a
// device rebuild. Index type 1 = 32-bit indices, else 16-bit. Writes give
// -1 and change nothing when they do not fit.
int CreateVertexBufferHandle(int vertexSize, int vertexCount);
int CreateIndexBufferHandle(int indexCount, int indexType);
int SetVertexBufferData(int start, const void* data, int count, int handle);
int SetIndexBufferData(int start, const void* data, int count, int handle);
int DeleteVertexBufferHandle(int handle);
int DeleteIndexBufferHandle(int handle);

// Shadow maps: data bits 16 or 32, float or integer texels; the light's
// view is fitted around the area box; slots 0 and 1 say which maps 3-D
// drawing reads (handle 0 or -1: none).
int MakeShadowMap(int width, int height, int dataBits, int floatData);
int DeleteShadowMap(int handle);
int SetShadowMapLightDirection(int handle, float x, float y, float z);
int SetShadowMapDrawArea(int handle, float minX, float minY, float minZ, float maxX, float maxY,
                         float maxZ);
int SetUseShadowMap(int slot, int handle);
// Blur at the end of drawing into a map: the strength (hundredths) of an
// 8-pixel Gauss filter, 0 none; a negative count is refused. The getter
// gives the count, or -1 for anything but a shadow map.
int SetShadowMapBlurCount(int handle, int count);
int GetShadowMapBlurCount(int handle);

// Graphic filters, in place over a whole graphic: Mono (Cb, Cr -255..255),
// Gauss (pixel width 8 / 16 / 32, strength in hundredths), BrightClip
// (compare 2 less / 5 greater, threshold 0..255, fill flag, fill colour as
// MakeColorValue gives it and its alpha), Hsb (hue mode 0 relative / 1
// absolute, hue in degrees, saturation and brightness -255..255), Invert,
// Level (input range, gamma in hundredths, output range; an empty input
// range is refused), TwoColor (threshold, two colours with alphas),
// GradientMap (a gradient graphic's first row, reverse flag), the two alpha
// conversions. DownScale (2, 4, 8) writes the shrunk picture at the
// destination's top-left. 0, or -1 when refused.
int GraphFilterMono(int graphic, int cb, int cr);
int GraphFilterGauss(int graphic, int pixelWidth, int strength);
int GraphFilterDownScale(int source, int dest, int divisor);
int GraphFilterBrightClip(int graphic, int compare, int threshold, int fill, unsigned int fillColour,
                          int fillAlpha);
int GraphFilterHsb(int graphic, int hueMode, int hue, int saturation, int brightness);
int GraphFilterInvert(int graphic);
int GraphFilterLevel(int graphic, int minimum, int maximum, int gamma, int outMinimum, int outMaximum);
int GraphFilterTwoColor(int graphic, int threshold, unsigned int darkColour, int darkAlpha,
                        unsigned int brightColour, int brightAlpha);
int GraphFilterGradientMap(int graphic, int gradient, int reverse);
int GraphFilterPremultipliedAlpha(int graphic);
int GraphFilterInterpolatedAlpha(int graphic);
// Blends of a source with a blend graphic into a destination, ratio 0..255:
// type 0 Normal, 2 Multiple, 3 Difference, 4 Add, 5 Screen, 6 Overlay,
// 7 Dodge, 8 Burn, 9 Darken, 10 Lighten, 11 SoftLight, 12 HardLight,
// 13 Exclusion, 14 Normal_AlphaCh, 15 Add_AlphaCh, 16 Multiple_AOnly; the
// RGBA mix takes each output channel from a selector (0-3 the source's R, G,
// B, A, 4-7 the blend graphic's). The rectangle form reads the blend graphic
// from (blendX, blendY) and writes at (destX, destY).
int GraphBlend(int source, int blend, int dest, int ratio, int type);
int GraphBlendRgbaMix(int source, int blend, int dest, int red, int green, int blue, int alpha);
int GraphBlendRect(int source, int x1, int y1, int x2, int y2, int blend, int blendX, int blendY, int dest,
                   int destX, int destY, int ratio, int type);

}  // extern "C++"

#endif  // RIDOV_H
