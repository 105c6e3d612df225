// DDS loader and the expansion of DXT1-DXT5 block-compressed images to
// ARGB8. Compressed data is kept as stored, with its mip chain and cube
// faces, so that it can go to a compressed texture unchanged.
#include "ReReziRader.h"

#include <string.h>

#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

enum {
  DDS_HEADER_SIZE = 124,  // counts its own size field

  // Header fields by byte offset from the size field.
  DDS_FLAGS = 4,
  DDS_HEIGHT = 8,
  DDS_WIDTH = 12,
  DDS_PITCH = 16,
  DDS_MIP_COUNT = 24,
  DDS_PF_FLAGS = 76,
  DDS_PF_FOURCC = 80,
  DDS_PF_BIT_COUNT = 84,
  DDS_PF_RED_MASK = 88,
  DDS_PF_GREEN_MASK = 92,
  DDS_PF_BLUE_MASK = 96,
  DDS_PF_ALPHA_MASK = 100,
  DDS_CAPS = 104,
  DDS_CAPS2 = 108,

  DDSD_PITCH = 0x8,
  DDSD_MIPMAPCOUNT = 0x20000,
  DDPF_FOURCC = 0x4,
  DDPF_RGB = 0x40,
  DDSCAPS_MIPMAP_COMPLEX = 0x400008,
  DDSCAPS2_CUBEMAP = 0x200,
  DDSCAPS2_ALL_FACES = 0xfc00,
};

struct DdsFormatRow {
  uint32_t code;
  int bits;
  uint32_t red, green, blue, alpha;
};

// Direct3D format numbers stored in the four-character-code field.
const DdsFormatRow DdsFormatTable[] = {
    {20, 24, 0xff0000, 0xff00, 0xff, 0},
    {21, 32, 0xff0000, 0xff00, 0xff, 0xff000000},
    {22, 32, 0xff0000, 0xff00, 0xff, 0},
    {23, 16, 0xf800, 0x7e0, 0x1f, 0},
    {24, 16, 0x7c00, 0x3e0, 0x1f, 0},
    {25, 16, 0x7c00, 0x3e0, 0x1f, 0x8000},
    {26, 16, 0xf00, 0xf0, 0xf, 0xf000},
    {27, 8, 0xe0, 0x1c, 0x3, 0},
    {29, 16, 0xe0, 0x1c, 0x3, 0xff00},
    {30, 16, 0xf00, 0xf0, 0xf, 0},
    {31, 32, 0x3ff, 0xffc00, 0x3ff00000, 0xc0000000},
    {32, 32, 0xff, 0xff00, 0xff0000, 0xff000000},
    {33, 32, 0xff, 0xff00, 0xff0000, 0},
    {35, 32, 0x3ff00000, 0xffc00, 0x3ff, 0xc0000000},
    {0xffffffff, 0, 0, 0, 0, 0},
};


inline int BlockBytes(int kind) { return kind == 1 ? 8 : 16; }

// Bytes of one face as a file stores it: each level a quarter of the one
// before; compressed levels hold at least one block.
int64_t StoredFaceSize(int kind, int64_t width, int64_t height, int64_t pitch, int mipCount) {
  int64_t level = kind != 0 ? (height / 4) * (width / 4) * BlockBytes(kind) : pitch * height;
  const int64_t minimum = kind != 0 ? BlockBytes(kind) : 0;
  const int levels = mipCount > 1 ? mipCount : 1;
  int64_t total = 0;
  for (int i = 0; i < levels; i++) {
    total += level < minimum ? minimum : level;
    level /= 4;
  }
  return total;
}

// Levels a mip chain of this size can have.
int MaxMipLevels(int64_t width, int64_t height) {
  int64_t side = width > height ? width : height;
  int levels = 1;
  while (side > 1) {
    side /= 2;
    levels++;
  }
  return levels;
}

inline uint8_t Scale5(int v) { return static_cast<uint8_t>(v * 255 / 31); }
inline uint8_t Scale6(int v) { return static_cast<uint8_t>(v * 255 / 63); }

// The colour part of a block into 16 BGRA texels (4 bytes each, row-major).
void DecodeColorPart(const uint8_t* part, int alwaysFourColors, uint8_t texels[16][4]) {
  const uint16_t c0 = ReadLE16(part);
  const uint16_t c1 = ReadLE16(part + 2);
  uint8_t colors[4][4];
  colors[0][0] = Scale5(c0 & 31);
  colors[0][1] = Scale6((c0 >> 5) & 63);
  colors[0][2] = Scale5(c0 >> 11);
  colors[0][3] = 255;
  colors[1][0] = Scale5(c1 & 31);
  colors[1][1] = Scale6((c1 >> 5) & 63);
  colors[1][2] = Scale5(c1 >> 11);
  colors[1][3] = 255;
  if (alwaysFourColors || c0 > c1) {
    for (int c = 0; c < 3; c++) {
      colors[2][c] = static_cast<uint8_t>((2 * colors[0][c] + colors[1][c]) / 3);
      colors[3][c] = static_cast<uint8_t>((colors[0][c] + 2 * colors[1][c]) / 3);
    }
    colors[2][3] = colors[3][3] = 255;
  } else {
    for (int c = 0; c < 3; c++) {
      colors[2][c] = colors[3][c] = static_cast<uint8_t>((colors[0][c] + colors[1][c]) / 2);
    }
    colors[2][3] = 255;
    colors[3][3] = 0;
  }
  const uint32_t indices = ReadLE32(part + 4);
  for (int i = 0; i < 16; i++) memcpy(texels[i], colors[(indices >> (2 * i)) & 3], 4);
}

// DXT2/DXT3: explicit 4-bit alphas.
void DecodeExplicitAlpha(const uint8_t* part, uint8_t texels[16][4]) {
  for (int i = 0; i < 16; i++) {
    const int a = (part[i / 2] >> ((i & 1) * 4)) & 15;
    texels[i][3] = static_cast<uint8_t>(a * 255 / 15);
  }
}

// DXT4/DXT5: two end points and 3-bit indices.
void DecodeInterpolatedAlpha(const uint8_t* part, uint8_t texels[16][4]) {
  const int a0 = part[0], a1 = part[1];
  int alphas[8];
  alphas[0] = a0;
  alphas[1] = a1;
  if (a0 > a1) {
    for (int i = 1; i <= 6; i++) alphas[i + 1] = ((7 - i) * a0 + i * a1) / 7;
  } else {
    for (int i = 1; i <= 4; i++) alphas[i + 1] = ((5 - i) * a0 + i * a1) / 5;
    alphas[6] = 0;
    alphas[7] = 255;
  }
  uint64_t bits = 0;
  for (int i = 0; i < 6; i++) bits |= static_cast<uint64_t>(part[2 + i]) << (8 * i);
  for (int i = 0; i < 16; i++) texels[i][3] = static_cast<uint8_t>(alphas[(bits >> (3 * i)) & 7]);
}

// Premultiplied colours back to straight ones; a texel with alpha 0 keeps
// its (zero) colour.
void Unpremultiply(uint8_t texels[16][4]) {
  for (int i = 0; i < 16; i++) {
    const int a = texels[i][3];
    if (a == 0) continue;
    for (int c = 0; c < 3; c++) {
      const int v = texels[i][c] * 255 / a;
      texels[i][c] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
  }
}

// One block into four rows of four ARGB8 pixels.
void DecodeBlock(int kind, const uint8_t* block, uint8_t* out, int pitch) {
  uint8_t texels[16][4];
  if (kind == 1) {
    DecodeColorPart(block, 0, texels);
  } else {
    DecodeColorPart(block + 8, 1, texels);
    if (kind <= 3) {
      DecodeExplicitAlpha(block, texels);
    } else {
      DecodeInterpolatedAlpha(block, texels);
    }
    if (kind == 2 || kind == 4) Unpremultiply(texels);
  }
  uint8_t* row0 = out;
  uint8_t* row1 = row0 + pitch;
  uint8_t* row2 = row1 + pitch;
  uint8_t* row3 = row2 + pitch;
  memcpy(row0, texels[0], 16);
  memcpy(row1, texels[4], 16);
  memcpy(row2, texels[8], 16);
  memcpy(row3, texels[12], 16);
}

}  // namespace

int64_t GetBaseImageFaceStride(const BaseImageRecord* image) {
  const int64_t size = GetBaseImageDataSize(image);
  if (size < 0) return -1;
  if (image->format.kind == 0) return size;
  const int64_t stored = StoredFaceSize(image->format.kind, image->width, image->height, 0, image->mipLevelCount);
  return stored > size ? stored : size;
}

int LoadDdsImage(ImageLoadStream* stream, BaseImageRecord* image) {
  uint8_t magic[4];
  uint8_t header[DDS_HEADER_SIZE];
  uint8_t* pixels = nullptr;
  ColorFormatRecord format;
  int64_t width, height, pitch = 0, storedFace, stride, faces;
  uint32_t flags, formatFlags, fourCC, caps, caps2, mipCount;
  int kind = 0, bits = 0;

  if (ImageStreamReadExact(stream, magic, sizeof(magic)) != 0) goto refuse;
  if (magic[0] != 'D' || magic[1] != 'D' || magic[2] != 'S') goto refuse;
  if (ImageStreamReadExact(stream, header, 4) != 0) goto refuse;
  if (ReadLE32(header) != DDS_HEADER_SIZE) goto refuse;
  if (ImageStreamReadExact(stream, header + 4, DDS_HEADER_SIZE - 4) != 0) goto refuse;

  flags = ReadLE32(header + DDS_FLAGS);
  height = ReadLE32(header + DDS_HEIGHT);
  width = ReadLE32(header + DDS_WIDTH);
  formatFlags = ReadLE32(header + DDS_PF_FLAGS);
  fourCC = ReadLE32(header + DDS_PF_FOURCC);
  caps = ReadLE32(header + DDS_CAPS);
  caps2 = ReadLE32(header + DDS_CAPS2);
  if (CheckImageLoadSize(width, height) != 0) goto refuse;

  memset(&format, 0, sizeof(format));
  if (formatFlags == DDPF_FOURCC && fourCC < 0x100) {
    const DdsFormatRow* row = DdsFormatTable;
    while (row->code != 0xffffffff && row->code != fourCC) row++;
    if (row->code == 0xffffffff) goto refuse;
    MakeColorFormatFromMasks(&format, row->bits, row->red, row->green, row->blue, row->alpha, 0, 0, 0);
    bits = row->bits;
  } else if (formatFlags & DDPF_FOURCC) {
    if ((fourCC & 0xffffff) != ('D' | ('X' << 8) | ('T' << 16))) goto refuse;
    kind = static_cast<int>(fourCC >> 24) - '0';
    if (kind < 1 || kind > 5) goto refuse;
    MakeColorFormatARGB8(&format);
    format.kind = static_cast<uint8_t>(kind);
    format.bitsPerPixel = static_cast<uint8_t>(kind == 1 ? 4 : 8);
  } else if (formatFlags & DDPF_RGB) {
    bits = static_cast<int>(ReadLE32(header + DDS_PF_BIT_COUNT));
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) goto refuse;
    MakeColorFormatFromMasks(&format, bits, ReadLE32(header + DDS_PF_RED_MASK), ReadLE32(header + DDS_PF_GREEN_MASK),
                             ReadLE32(header + DDS_PF_BLUE_MASK), ReadLE32(header + DDS_PF_ALPHA_MASK), 0, 0, 0);
  } else {
    goto refuse;
  }
  if (kind == 0 && format.bytesPerPixel == 1) {
    // One-byte pixels are read through the palette: give it the colours the
    // masks describe.
    for (int i = 0; i < 256; i++) {
      int r, g, b;
      SplitFormatPixelToRGBA(&format, static_cast<uint32_t>(i), &r, &g, &b, nullptr);
      format.palette[i][0] = static_cast<uint8_t>(b);
      format.palette[i][1] = static_cast<uint8_t>(g);
      format.palette[i][2] = static_cast<uint8_t>(r);
      format.palette[i][3] = 0;
    }
  }

  mipCount = 0;
  if ((flags & DDSD_MIPMAPCOUNT) && (caps & DDSCAPS_MIPMAP_COMPLEX) == DDSCAPS_MIPMAP_COMPLEX) {
    mipCount = ReadLE32(header + DDS_MIP_COUNT);
    if (mipCount > static_cast<uint32_t>(MaxMipLevels(width, height))) goto refuse;
  }
  faces = ((caps2 & DDSCAPS2_CUBEMAP) && (caps2 & DDSCAPS2_ALL_FACES) == DDSCAPS2_ALL_FACES) ? 6 : 1;

  if (kind == 0) {
    pitch = (flags & DDSD_PITCH) ? static_cast<int64_t>(ReadLE32(header + DDS_PITCH))
                                 : static_cast<int64_t>(bits / 8) * width;
    // Rows narrower than their pixels would send readers past the block.
    if (pitch < static_cast<int64_t>(format.bytesPerPixel) * width || pitch * height > GetImageLoadByteLimit())
      goto refuse;
  }
  storedFace = StoredFaceSize(kind, width, height, pitch, static_cast<int>(mipCount));

  image->format = format;
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->pitch = static_cast<int>(pitch);
  image->pixels = nullptr;
  image->mipLevelCount = static_cast<int>(mipCount);
  image->cubeFlag = faces == 6 ? 6 : 0;
  // Faces are laid out so that readers stepping by the data-size rule stay
  // on them.
  stride = GetBaseImageFaceStride(image);
  if (stride < storedFace || stride * faces > GetImageLoadByteLimit()) goto refuse;
  if (ImageStreamBytesLeft(stream) < storedFace * faces) goto refuse;
  pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(stride * faces)));
  if (pixels == nullptr) goto refuse;
  for (int64_t face = 0; face < faces; face++) {
    uint8_t* at = pixels + face * stride;
    if (ImageStreamReadExact(stream, at, static_cast<size_t>(storedFace)) != 0) goto refuse;
    memset(at + storedFace, 0, static_cast<size_t>(stride - storedFace));
  }
  image->pixels = pixels;
  return 0;

refuse:
  if (pixels != nullptr) MemFree(pixels);
  memset(image, 0, sizeof(*image));
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  return -1;
}

int ExpandCompressedBaseImage(BaseImageRecord* image) {
  if (image == nullptr) return -1;
  const int kind = image->format.kind;
  if (kind == 0) return 0;
  if (kind > 5 || image->pixels == nullptr || image->width <= 0 || image->height <= 0) return -1;
  const int64_t faces = image->cubeFlag > 0 ? 6 : 1;
  const int64_t stride = GetBaseImageFaceStride(image);
  const int64_t pitch = static_cast<int64_t>(image->width) * 4;
  const int64_t faceBytes = pitch * image->height;
  if (stride < 0 || faceBytes * faces > GetImageLoadByteLimit()) return -1;
  uint8_t* out = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(static_cast<size_t>(faceBytes * faces)));
  if (out == nullptr) return -1;

  const int blockBytes = BlockBytes(kind);
  const int across = image->width / 4;
  const int down = image->height / 4;
  for (int64_t face = 0; face < faces; face++) {
    const uint8_t* block = reinterpret_cast<const uint8_t*>(image->pixels) + face * stride;
    uint8_t* faceOut = out + face * faceBytes;
    for (int by = 0; by < down; by++) {
      uint8_t* rowOut = faceOut + static_cast<int64_t>(by) * 4 * pitch;
      for (int bx = 0; bx < across; bx++, block += blockBytes)
        DecodeBlock(kind, block, rowOut + bx * 16, static_cast<int>(pitch));
    }
  }

  MemFree(image->pixels);
  MakeColorFormatARGB8(&image->format);
  image->pitch = static_cast<int>(pitch);
  image->pixels = out;
  image->mipLevelCount = 0;
  return 0;
}
