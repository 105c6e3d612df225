// Model textures after a device rebuild: the default textures (three run-
// length TGA files held here and a grey ramp made at run time) and every
// texture of every model base and in-use override of every model refilled
// into their graphic handles from the image bytes the records keep, with
// the height-to-normal-map conversion and power-of-two sizes.
// Threads: main thread, inside the graphics restore (asynchronous loading
// off). Platform: none directly (graphics through their layer).
#include <string.h>

#include "MoDerov.h"
#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaMath.h"

namespace {

const char LOG_TEXTURE_WITHOUT_IMAGE[] = "モデルのテクスチャに画像データがありません";

// 8 x 8, 32 bits with 8 alpha bits: every pixel 255, 255, 255, 255.
const uint8_t WHITE_TGA[84] = {0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00,
                               0x08, 0x00, 0x20, 0x08, 0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0xFF, 0xFF, 0xFF, 0xFF,
                               0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0xFF, 0xFF, 0xFF,
                               0xFF, 0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0xFF, 0xFF,
                               0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x54, 0x52, 0x55, 0x45,
                               0x56, 0x49, 0x53, 0x49, 0x4F, 0x4E, 0x2D, 0x58, 0x46, 0x49, 0x4C, 0x45, 0x2E, 0x00};
// 8 x 8, 24 bits: every pixel 0, 0, 0.
const uint8_t BLACK_TGA[76] = {
    0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x18, 0x00, 0x87,
    0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00,
    0x87, 0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00, 0x87, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x54, 0x52, 0x55, 0x45, 0x56, 0x49, 0x53, 0x49, 0x4F, 0x4E, 0x2D, 0x58, 0x46, 0x49, 0x4C, 0x45, 0x2E, 0x00};
// 256 x 8, 24 bits: each row 64 pixels each of grey 0x00, 0x55, 0xAA, 0xFF.
const uint8_t RAMP4_TGA[172] = {
    0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x18, 0x00,
    0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00,
    0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00,
    0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55,
    0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55,
    0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA,
    0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA,
    0xBF, 0xFF, 0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF,
    0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x54, 0x52, 0x55, 0x45, 0x56, 0x49, 0x53, 0x49,
    0x4F, 0x4E, 0x2D, 0x58, 0x46, 0x49, 0x4C, 0x45, 0x2E, 0x00};

enum { GREY_RAMP_WIDTH = 256, GREY_RAMP_HEIGHT = 8 };
const float HEIGHT_FACTOR_MIN = 0.000001f;

// One pass's load and creation settings: 32-bit image textures with alpha.
struct ModelTextureSettings {
  ImageLoadSettings load;
  GraphCreateSettings create;
};

void TakeTextureSettings(ModelTextureSettings* settings) {
  SnapshotImageLoadSettings(&settings->load);
  InitImageFormatDesc(&settings->create, 32, 1, 0);
  settings->create.reserved = 1;
}

// Fills the live graphic handle anew from decoded images; -1 (the handle
// untouched) when it is no live graphic.
int RefillGraph(const ModelTextureSettings* settings, int graph, BaseImageRecord* color, BaseImageRecord* alpha) {
  if (GetGraphicRecord(graph, 0) == nullptr) return -1;
  GraphCreateSettings create = settings->create;
  return CreateGraphFromBaseImages(&create, graph, color, alpha, 1, 0);
}

int RefillGraphFromFileBytes(const ModelTextureSettings* settings, int graph, const void* bytes, int size) {
  if (GetGraphicRecord(graph, 0) == nullptr) return -1;
  BaseImageRecord image, alpha;
  memset(&image, 0, sizeof image);
  if (LoadBaseImagePair(&settings->load, nullptr, bytes, size, 1, nullptr, 0, 2, &image, &alpha, 0) < 0) return -1;
  const int result = RefillGraph(settings, graph, &image, nullptr);
  ReleaseBaseImage(&image);
  if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
  return result;
}

void RefillTexture(const ModelTextureSettings* settings, int graph, const ModelTextureSource& source) {
  BaseImageRecord color, alpha;
  if (LoadModelTextureImages(&color, &alpha, source) < 0) return;
  RefillGraph(settings, graph, &color, source.alphaBytes != nullptr ? &alpha : nullptr);
  ReleaseBaseImage(&color);
  if (source.alphaBytes != nullptr) ReleaseBaseImage(&alpha);
}

// The source of a texture entry or override, unturned.
template <class Entry>
ModelTextureSource SourceOf(const Entry& entry) {
  return {entry.colorBytes, entry.colorSize, entry.alphaBytes, entry.alphaSize, entry.normalMap, entry.heightFactor, 0};
}

int NextPowerOfTwo(int size) {
  int rounded = 1;
  while (rounded < size) rounded <<= 1;
  return rounded;
}

// Replaces the image by a bilinear stretch of it to width x height in its
// own format; -1 (the image kept) when the new one cannot be made.
int StretchImageTo(BaseImageRecord* image, int width, int height) {
  BaseImageRecord stretched;
  memset(&stretched, 0, sizeof stretched);
  if (CreateBaseImageWithFormat(width, height, &image->format, &stretched) < 0) return -1;
  StretchBaseImageRect(0, 0, image->width, image->height, image, 0, 0, width, height, &stretched, STRETCH_BILINEAR);
  ReleaseBaseImage(image);
  *image = stretched;
  return 0;
}

// Rounds both sides up to powers of two, each kept to half the device's
// largest texture side; then the turn.
int RoundToPowersOfTwo(BaseImageRecord* image, int turn) {
  int width = NextPowerOfTwo(image->width), height = NextPowerOfTwo(image->height);
  if (width != image->width || height != image->height) {
    if (DeviceCaps.maxTextureWidth > 0 && DeviceCaps.maxTextureWidth / 2 < width)
      width = DeviceCaps.maxTextureWidth / 2;
    if (DeviceCaps.maxTextureHeight > 0 && DeviceCaps.maxTextureHeight / 2 < height)
      height = DeviceCaps.maxTextureHeight / 2;
    if (StretchImageTo(image, width, height) < 0) return -1;
  }
  if (turn) RotateBaseImage180(image);
  return 0;
}

// The red channel of a height image turned into a normal map (wrapping at
// the edges); -1 when the new image cannot be made.
int MakeNormalMap(BaseImageRecord* image, float factor) {
  if (factor < HEIGHT_FACTOR_MIN) factor = HEIGHT_FACTOR_MIN;
  BaseImageRecord normals;
  memset(&normals, 0, sizeof normals);
  if (CreateBaseImageXRGB8(image->width, image->height, &normals) < 0) return -1;
  for (int y = 0; y < image->height; y++) {
    const int below = y + 1 == image->height ? 0 : y + 1;
    for (int x = 0; x < image->width; x++) {
      const int right = x + 1 == image->width ? 0 : x + 1;
      int h0 = 0, hx = 0, hy = 0;
      GetBaseImagePixelRGBA(image, x, y, &h0, nullptr, nullptr, nullptr);
      GetBaseImagePixelRGBA(image, right, y, &hx, nullptr, nullptr, nullptr);
      GetBaseImagePixelRGBA(image, x, below, &hy, nullptr, nullptr, nullptr);
      const float dx = static_cast<float>(hx - h0) / 255.0f, dy = static_cast<float>(hy - h0) / 255.0f;
      const Vector3 n = NormalizeVectorGuarded(-factor * dx, -factor * dy, factor * factor);
      SetBaseImagePixelRGBA(&normals, x, y, static_cast<int>((n.x + 1.0) * 127.5),
                            static_cast<int>((n.y + 1.0) * 127.5), static_cast<int>((n.z + 1.0) * 127.5), 0);
    }
  }
  ReleaseBaseImage(image);
  *image = normals;
  return 0;
}

void ReleaseBoth(BaseImageRecord* color, BaseImageRecord* alpha) {
  if (color->pixels != nullptr) ReleaseBaseImage(color);
  if (alpha->pixels != nullptr) ReleaseBaseImage(alpha);
}

}  // namespace

const ModelTextureFile ModelDefaultTextureFiles[3] = {
    {WHITE_TGA, sizeof WHITE_TGA}, {BLACK_TGA, sizeof BLACK_TGA}, {RAMP4_TGA, sizeof RAMP4_TGA}};

int LoadModelTextureImages(BaseImageRecord* color, BaseImageRecord* alpha, const ModelTextureSource& source) {
  const void* colorBytes = source.colorBytes;
  const void* alphaBytes = source.alphaBytes;
  const int colorSize = source.colorSize, alphaSize = source.alphaSize, turn = source.turn;
  memset(color, 0, sizeof *color);
  memset(alpha, 0, sizeof *alpha);
  if (colorBytes == nullptr && alphaBytes == nullptr) {
    LogPrintf(LOG_TEXTURE_WITHOUT_IMAGE);
    return -1;
  }
  if (colorBytes != nullptr && LoadImageToBaseImage(nullptr, colorBytes, colorSize, 1, color, 0) < 0) {
    memset(color, 0, sizeof *color);
    return -1;
  }
  if (alphaBytes != nullptr && LoadImageToBaseImage(nullptr, alphaBytes, alphaSize, 1, alpha, 0) < 0) {
    memset(alpha, 0, sizeof *alpha);
    ReleaseBoth(color, alpha);
    return -1;
  }
  if (colorBytes == nullptr) {
    if (CreateBaseImageXRGB8(alpha->width, alpha->height, color) < 0) {
      memset(color, 0, sizeof *color);
      ReleaseBoth(color, alpha);
      return -1;
    }
    memset(color->pixels, 0xFF, static_cast<size_t>(color->pitch) * color->height);
  }
  if (source.normalMap && MakeNormalMap(color, source.heightFactor) < 0) {
    ReleaseBoth(color, alpha);
    return -1;
  }
  if (colorBytes != nullptr && RoundToPowersOfTwo(color, turn) < 0) {
    ReleaseBoth(color, alpha);
    return -1;
  }
  if (alphaBytes != nullptr) {
    if (RoundToPowersOfTwo(alpha, turn) < 0) {
      ReleaseBoth(color, alpha);
      return -1;
    }
    // Colour and alpha reach the graphic at one size (the white colour of an
    // alpha-only texture included).
    if (color->width != alpha->width || color->height != alpha->height) {
      const bool colorSmaller = color->width <= alpha->width && color->height <= alpha->height;
      const int result = colorSmaller ? StretchImageTo(color, alpha->width, alpha->height)
                                      : StretchImageTo(alpha, color->width, color->height);
      if (result < 0) {
        ReleaseBoth(color, alpha);
        return -1;
      }
    }
  }
  return 0;
}

int RefillModelGreyRampTexture(int graph) {
  BaseImageRecord image;
  memset(&image, 0, sizeof image);
  if (CreateBaseImageXRGB8(GREY_RAMP_WIDTH, GREY_RAMP_HEIGHT, &image) < 0) return -1;
  for (int y = 0; y < GREY_RAMP_HEIGHT; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(image.pixels) + y * image.pitch);
    for (uint32_t x = 0; x < GREY_RAMP_WIDTH; x++) row[x] = x | (x << 8) | (x << 16);
  }
  ModelTextureSettings settings;
  TakeTextureSettings(&settings);
  RefillGraph(&settings, graph, &image, nullptr);
  ReleaseBaseImage(&image);
  return graph;
}

int RebuildModelTextures() {
  if (!HandleManagers[HANDLETYPE_MODELBASE].initialized) return -1;
  ModelTextureSettings settings;
  TakeTextureSettings(&settings);
  for (int i = 0; i < 3; i++)
    RefillGraphFromFileBytes(&settings, Models.defaultTextures[i], ModelDefaultTextureFiles[i].bytes,
                             ModelDefaultTextureFiles[i].size);
  RefillModelGreyRampTexture(Models.defaultTextures[MODEL_TEXTURE_GREY_RAMP]);

  HandleManager& bases = HandleManagers[HANDLETYPE_MODELBASE];
  for (int slot = bases.lowestSlot; bases.count > 0 && slot <= bases.highestSlot; slot++) {
    ModelBaseRecord* base = reinterpret_cast<ModelBaseRecord*>(bases.slots[slot]);
    if (base == nullptr || base->textures == nullptr) continue;
    for (int i = 0; i < base->textureCount; i++) {
      const ModelTextureEntry& entry = base->textures[i];
      RefillTexture(&settings, entry.graph, SourceOf(entry));
    }
  }
  HandleManager& models = HandleManagers[HANDLETYPE_MODEL];
  for (int slot = models.lowestSlot; models.initialized && models.count > 0 && slot <= models.highestSlot; slot++) {
    ModelRecord* model = reinterpret_cast<ModelRecord*>(models.slots[slot]);
    if (model == nullptr || model->base == nullptr || model->overrides == nullptr) continue;
    for (int i = 0; i < model->base->textureCount; i++) {
      const ModelTextureOverride& entry = model->overrides[i];
      if (!entry.inUse) continue;
      RefillTexture(&settings, entry.graph, SourceOf(entry));
    }
  }
  return 0;
}
