// Graphic handles (type 1): records, shared image descriptors, pixel-format
// indices, texture creation and splitting, pieces, pixel transfer into the
// textures and read-back.
#ifndef VUVIDEREZA_GRAPH_H
#define VUVIDEREZA_GRAPH_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include "ReReziRader.h"
#include "RiRerEzi.h"
#include "VeRavoro.h"
#include "RiDov.h"

struct GraphFormatDesc {
  uint8_t textureBacked, cube, alpha, drawable, systemMemory, managed, dxt, mipCount;
  uint8_t alphaTest, floatFlag, colorBits, channelCount, bitsPerChannel, blend, palette8;
  uint8_t multiSampleType, multiSampleQuality;
};

struct GraphTextureEntry {
  IDirect3DTexture9* texture;
  IDirect3DTexture9* systemTexture;
  IDirect3DSurface9* faces[6];
  IDirect3DSurface9* multiSampleSurface;
  IDirect3DSurface9* writeOnlySurface;
  int x, y;  // area in the whole image
  int usedWidth, usedHeight;
  int allocWidth, allocHeight;  // texture size
};

struct GraphImageDescriptor {
  int refCount;
  int pixelFormat;
  GraphFormatDesc format;
  uint32_t transparentColor;
  int width, height;
  int hasDepthSurface, depthFormat, mipCount, textureCount;
  MEMIMG softImage;               // software mode: the whole image (no textures)
  GraphTextureEntry textures[1];  // textureCount entries
};

struct GraphPiece {
  int x, y;        // in the graphic
  int texX, texY;  // in the texture
  int width, height;
  float corners[16];  // x, y, u, v of left-top, right-top, left-bottom, right-bottom
  int reserved;
  GraphTextureEntry* entry;
};

enum { GRAPH_RECORD_PIECES = 4 };

struct GraphicHandleRecord {
  HandleRecordHeader header;
  int* lostFlag;
  int dependentHandle;
  void* sourceBlock;
  int sourceX, sourceY;
  GraphImageDescriptor* image;
  int x, y;
  int width, height;
  void* ownedBlock1;
  int ownedSize1;
  void* ownedBlock2;
  int ownedSize2;
  int internalFlag;
  MEMIMG softImage;  // software mode: this graphic's view of the descriptor's image
  int pieceCount;
  GraphPiece pieces[GRAPH_RECORD_PIECES];  // more grow the record
};

// What a graphic was made from, shared by the tiles and views derived from
// it; the copies live behind the head.
struct GraphSourceBlock {
  char* fileName;
  BaseImageRecord* image;
  BaseImageRecord* alphaImage;
  void* bytes;
  int size;
  void* alphaBytes;
  int alphaSize;
  int mirror;
  int refCount;
};
void ReleaseGraphSourceBlock(GraphSourceBlock* block);
// Remembers a file name (full path) or a base image as the graphic's source,
// or shares derivedFrom's block (-1: none). With the restore switch set
// (noRestore 1, or -1 and the current switch set) the graphic keeps no
// block. 0 / -1.
int RememberGraphicSource(int handle, const char* fileName, const BaseImageRecord* image,
                          const BaseImageRecord* alphaImage, int mirror, int derivedFrom, int noRestore = -1);
// Remembers copies of image-file bytes (and alpha-image bytes) as the source. 0 / -1.
int RememberGraphicSourceBytes(int handle, const void* bytes, int size, const void* alphaBytes, int alphaSize,
                               int mirror, int noRestore = -1);
// The restore switch: non-zero, graphics made from then on remember no
// source (a device loss leaves them empty). Kept across the state reset.
int GetGraphRestoreSwitch();
// Public: 1 (the default) graphics keep their source for the restore after
// a device loss, 0 they keep nothing. 0.
int SetRememberGraphSource(int remember);
// Refills every graphic from its remembered source (each file decoded once
// for consecutive graphics).
void RestoreAllGraphics();
int RestoreGraphicsResources();
// Device rebuild halves: every descriptor's textures released / re-created empty.
int ReleaseAllGraphTextures();
int CreateAllGraphTextures();

// Creation settings (word meanings as the load settings; see GraphCreateSettings).
struct GraphCreateSettings {
  int transparentColor, colorBits, bitsPerChannel, alphaTest, alpha, cube, blend, notManaged;
  int drawable, drawableAlpha, floatFlag, noDepth, channelCount, depthBits, multiSampleType;
  int multiSampleQuality, mipCount, maxTextureSide, reserved;
  int noTransparentColor, fillTransparentEdges, transparentFromTopLeft;
};
// The current creation settings (the state reset's values).
void GetGraphCreateSettings(GraphCreateSettings* settings);
// Replaces the switches that later graphics are made with.
void SetGraphCreateSettings(const GraphCreateSettings* settings);
// Settings of library-internal graphics: a managed image texture / a
// drawable (render target) graphic; transparent colour 0xff00ff.
void InitImageFormatDesc(GraphCreateSettings* settings, int colorBits, int alpha, int alphaTest);
void InitDrawableGraphSettings(GraphCreateSettings* settings, int colorBits, int alpha);
// An empty graphic of width x height (a drawable one starts cleared to 0);
// with async (outside a job) made by a loading job, the handle pending
// until it ends. The handle or -1. The transparency flag is carried for the
// documented call form; the creation settings decide transparency.
int CreateBlankGraphHandle(const GraphCreateSettings* settings, int width, int height, int flag, int async, int inJob);
// Loading (RuRovoreziZuzuGraphLoad.cpp). A graphic from base images (word
// 20 of the settings: transparent edges filled); 0 / -1.
int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);
// Tiles of an image file; with asynchronous loading on, queued as a loading
// job (the handles pending until it ends). 0 / -1.
// A grid of tiles: count tiles, across a row, down rows, each width x height.
struct TileGrid {
  int count, across, down, width, height;
};
int LoadDividedGraph(const char* file, const TileGrid& grid, int* handles, int transparent, int mirror);
// Public (RiDov.h): tiles from image-file bytes or a GDI bitmap, and the
// tiles of a grid refilled from a file. 0 / -1.
int LoadImageDividedFromMemory(const void* bytes, int size, int count, int across, int down, int tileWidth,
                               int tileHeight, int* handles, int transparent);
int LoadImageDividedFromBitmap(const BITMAPINFO* info, const void* bits, int count, int across, int down, int tileWidth,
                               int tileHeight, int* handles, int transparent);
int ReloadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight,
                       const int* handles, int transparent);
// A tile of source at (x, y): the point must lie inside it, the size is
// clipped. 0 / -1.
int MakeDerivedTile(int handle, int x, int y, int width, int height, int source, int inJob);
// The single-graphic road: one graphic from image-file bytes (copied into
// its remembered source) or from base images (copied), into a new handle
// (returned) or refilling a live one of the same size (0); with async made
// by a loading job. -1 on failure (a new handle is then gone).
// Where and how a single graphic is made: the creation settings, a new
// handle or the live one refilled (reuse), transparency, mirroring and a
// loading job (async).
struct GraphCreateTarget {
  const GraphCreateSettings* settings;
  int reuse;
  int handle;  // with reuse
  int transparent;
  int mirror;
  int async;
};
int CreateGraphFromMemoryWithSettings(const GraphCreateTarget& target, const void* bytes, int size,
                                      const void* alphaBytes, int alphaSize);
int CreateGraphFromBaseImageWithSettings(const GraphCreateTarget& target, const BaseImageRecord* image,
                                         const BaseImageRecord* alphaImage, int inJob);
// A GDI bitmap (header with its masks or colour table, bits; alpha pair
// optional) as the source, kept as a base-image copy for the restore.
int CreateGraphFromBitmapWithSettings(const GraphCreateTarget& target, const BITMAPINFO* info, const void* bits,
                                      const BITMAPINFO* alphaInfo, const void* alphaBits);
// Public (RiDov.h): MakeGraphFromBaseImages at once with the current
// settings; LoadImageGraph (a loading job when asynchronous loading is on);
// the graphics from image-file bytes, GDI bitmaps and soft images.
// The whole image written into a live graphic at (destX, destY), a copy
// kept for the restore. 0 / -1.
int CreateGraphicFromBaseImage(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int handle, int destX,
                               int destY);
// Rectangle source of the image written into the graphic at (destX, destY),
// the source-point offset recorded. 0 / -1.
int TransferImageRectToGraph(int handle, const BaseImageRecord* image, const BaseImageRecord* alphaImage,
                             const RECT* source, int destX, int destY);
// Public creators (RiDov.h): MakeBlankGraph and MakeBlankCubeGraph take
// the current creation settings otherwise.

int InitGraphicHandleType();
int TermGraphicHandleType();
int AllocGraphicHandle();
int InitGraphicHandleRecord(HandleRecordHeader* record);
int TermGraphicRecord(HandleRecordHeader* record);
GraphicHandleRecord* GetGraphicRecord(int handle, int acceptPending);
int SetGraphInternalFlag(int handle, int flag);
void DeleteInternalGraphs();
// After the device could not be made again: every texture graphic becomes a
// memory image of its size (empty until restored), as in software mode.
// 0, or -1 when one could not be made (that graphic then draws nothing).
int ConvertAllGraphsToMemImg();
int SelectPixelFormatIndex(const GraphFormatDesc* desc);
const ColorFormatRecord* GetColorFormatForPixelFormat(int index);
const ColorFormatRecord* GetPixelFormatDescriptor(int d3dFormat);
const ColorFormatRecord* GetColorFormatForTextureDesc(int alpha, int alphaTest, int use32Bit, int drawable);
int ReleaseImageTextures(GraphImageDescriptor* image);
// The device format standing for a pixel-format index (0: none).
int GetDeviceFormatForPixelFormat(int index);

// Cuts one side of an image into texture lengths the device accepts (limit
// 0: the device's maximum side); `single` lets one power of two double to
// cover the side, `pow2` forces powers of two. Returns the count (at least
// 1); the lengths go to `lengths` when given.
int DivideSizeIntoTextureSizes(int length, int limit, uint16_t* lengths, int single, int pow2);
// The textures of a width x height image: each side cut by the splitter
// above (limit: the largest side), across then down; with squareOnly a
// texture whose sides differ becomes squares of its shorter side along the
// longer one (squares wholly past the image left out). Fills x, y, the used
// and the allocated size of entries[0..count-1] when entries is given.
// Returns the count, -1 when a side needs more than 64 textures.
int LayOutGraphTextures(int width, int height, int limit, int squareOnly, GraphTextureEntry* entries);
// The graphic's software image, or null (texture graphics, none made).
MEMIMG* GetGraphicMemImg(GraphicHandleRecord* record);

// The image a graphic is made for: its size, an alpha channel, 8-bit
// palette pixels, the block format (0 none) and the mip level count (-1 or
// 0: the settings' choice).
struct GraphImageShape {
  int width, height;
  int hasAlpha;
  int palette8;
  int dxtCode;
  int mipCount;
};
void BuildGraphFormatDesc(GraphFormatDesc* out, const GraphCreateSettings* settings, const GraphImageShape& shape);
int CreateGraphicFromImageData(const GraphCreateSettings* settings, int handle, const GraphImageShape& shape,
                               int inJob);
int CreateImageTextures(GraphImageDescriptor* image, int inJob);
int BuildGraphDrawInfo(int handle, int inJob);
int MakeDerivedGraph(int dst, int src, int x, int y, int width, int height, int inJob);
// Rectangle src of image (alpha image optional) written into the graphic at
// (destX, destY): of the graphic, or of its whole shared image with
// wholeDescriptor; applyTransparent keys out the transparent colour.
struct GraphTransfer {
  const BaseImageRecord* image;
  const BaseImageRecord* alphaImage;
  int handle;
  const RECT* src;
  int destX, destY;
  int applyTransparent;
  int wholeDescriptor;
};
int TransferImageToGraphTexture(const GraphTransfer& transfer, int inJob);
// The graphic's pixels (rect: a part of it; null: all) as an A8R8G8B8 base
// image, released by the caller; each piece read from its own texture.
int ReadGraphToBaseImage(int handle, BaseImageRecord* image, const RECT* rect = nullptr);

// Movie graphics: the movie opened from file and bound to the graphic
// `handle` (created here at the movie's frame size; deleted on failure).
int LoadMovieGraphic(int handle, const char* file, int inJob);
// Brings a graphic's movie to its current frame (draw calls run it before
// drawing a graphic); 0 also for a graphic without a movie.
int RefreshGraphicMovie(int graphic);
// Before the device objects are released: every movie graphic's movie
// gives up its device surface and delivers its frame again afterwards.
void RequestMovieGraphicsRefresh();

#endif  // VUVIDEREZA_GRAPH_H
