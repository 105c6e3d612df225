// The image loader table and base-image loading: the loaders are tried in
// turn on one stream until one decodes it; then the optional mirror, key
// colour or premultiply and bitmap output; the colour-plus-alpha pair; and
// the raw "BGRA" format.
#include "ReReziRader.h"

#include <string.h>

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_IMAGE_FILE_NOT_OPENED[] = "画像ファイル %s を開けませんでした";
const char LOG_MEMORY_IMAGE_UNREADABLE[] =
    "メモリ上の画像データを読み込めませんでした、対応していない形式か壊れています";
const char LOG_IMAGE_FILE_UNREADABLE[] = "画像ファイル %s を読み込めませんでした、対応していない形式か壊れています";

}  // namespace

const ImageLoaderFunc ImageLoaderTable[IMAGE_LOADER_TABLE_SIZE] = {
    LoadBmpImage, LoadJpegImage, LoadPngImage, LoadBgraImage, LoadTgaImage, LoadDdsImage, nullptr,
};

namespace {

// As the base-image core: the allocator keeps sizes in 32 bits and adds its
// own overhead.
const int64_t kImageLoadByteLimit = 0x7fffffffLL - 0x1000;

enum {
  BGRA_HEADER_SIZE = 16,
  BGRA_DEPTH_8 = 0x08080808,
  BGRA_DEPTH_16 = 0x10101010,
  BITMAP_INFO_BLOCK_SIZE = 1068,  // 40-byte header, 256 colours, one spare word
};

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Turns an image without alpha into exact ARGB8 (in place) and clears the
// pixels that match the key colour.
int KeyColorToZeroAlpha(BaseImageRecord* image, int keyColor) {
  if (ConvertBaseImageToARGB8(image) != 0) return -1;
  const uint32_t key = static_cast<uint32_t>(keyColor) | 0xff000000u;
  for (int y = 0; y < image->height; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(image->pixels) +
                                                static_cast<intptr_t>(y) * image->pitch);
    for (int x = 0; x < image->width; x++) {
      if (row[x] == key) row[x] = 0;
    }
  }
  return 0;
}

void CloseLoadStream(const ImageLoadSettings* settings, int memoryFlag, StreamHandle handle) {
  if (handle == 0) return;
  if (memoryFlag) {
    settings->memoryStream.Close(handle);
  } else {
    settings->fileAccess.Close(handle);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Stream helpers

int ImageStreamReadExact(ImageLoadStream* stream, void* buffer, size_t bytes) {
  if (bytes == 0) return 0;
  // Read as single bytes: a short read then shows as a short count.
  size_t got = stream->functions.Read(buffer, 1, bytes, stream->handle);
  return got == bytes ? 0 : -1;
}

int ImageStreamSeek(ImageLoadStream* stream, int64_t offset, int origin) {
  return stream->functions.Seek(stream->handle, offset, origin);
}

int64_t ImageStreamTell(ImageLoadStream* stream) { return stream->functions.Tell(stream->handle); }

int64_t ImageStreamBytesLeft(ImageLoadStream* stream) {
  int64_t position = ImageStreamTell(stream);
  if (position < 0) return -1;
  if (ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_END) != 0) {
    ImageStreamSeek(stream, position, FILE_STREAM_SEEK_SET);
    return -1;
  }
  int64_t end = ImageStreamTell(stream);
  ImageStreamSeek(stream, position, FILE_STREAM_SEEK_SET);
  if (end < position) return end < 0 ? -1 : 0;
  return end - position;
}

int CheckImageLoadSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1 || width > IMAGE_LOAD_SIDE_MAX || height > IMAGE_LOAD_SIDE_MAX) return -1;
  return 0;
}

int64_t GetImageLoadByteLimit() { return kImageLoadByteLimit; }

void SetLoadedImageRecord(BaseImageRecord* image, int width, int height, int pitch, void* pixels) {
  image->width = width;
  image->height = height;
  image->pitch = pitch;
  image->pixels = pixels;
  image->mipLevelCount = 0;
  image->cubeFlag = 0;
}

// ---------------------------------------------------------------------------
// Raw "BGRA" images

int LoadBgraImage(ImageLoadStream* stream, BaseImageRecord* image) {
  uint8_t header[BGRA_HEADER_SIZE];
  uint8_t* pixels = nullptr;
  uint8_t* row = nullptr;
  if (ImageStreamReadExact(stream, header, sizeof(header)) != 0) goto refuse;
  if (memcmp(header, "BGRA", 4) != 0) goto refuse;
  {
    const uint32_t depth = ReadU32(header + 4);
    const int64_t width = ReadU32(header + 8);
    const int64_t height = ReadU32(header + 12);
    if (depth != BGRA_DEPTH_8 && depth != BGRA_DEPTH_16) goto refuse;
    if (CheckImageLoadSize(width, height) != 0) goto refuse;
    const int64_t pitch = width * 4;
    const int64_t sourcePitch = depth == BGRA_DEPTH_8 ? pitch : width * 8;
    if (pitch * height > kImageLoadByteLimit) goto refuse;
    if (ImageStreamBytesLeft(stream) < sourcePitch * height) goto refuse;
    pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(pitch * height)));
    if (pixels == nullptr) goto refuse;
    if (depth == BGRA_DEPTH_8) {
      if (ImageStreamReadExact(stream, pixels, static_cast<size_t>(pitch * height)) != 0) goto refuse;
    } else {
      row = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(sourcePitch)));
      if (row == nullptr) goto refuse;
      for (int64_t y = 0; y < height; y++) {
        if (ImageStreamReadExact(stream, row, static_cast<size_t>(sourcePitch)) != 0) goto refuse;
        uint8_t* out = pixels + y * pitch;
        // Little-endian 16-bit channels: keep the high byte of each.
        for (int64_t i = 0; i < pitch; i++) out[i] = row[i * 2 + 1];
      }
      MemFree(row);
      row = nullptr;
    }
    MakeColorFormatARGB8(&image->format);
    SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(height), static_cast<int>(pitch), pixels);
    return 0;
  }
refuse:
  if (row != nullptr) MemFree(row);
  if (pixels != nullptr) MemFree(pixels);
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  return -1;
}

// ---------------------------------------------------------------------------
// The loader table and its driver

int LoadImageByLoaders(const ImageLoadSettings* settings, ImageLoadStream* stream, BaseImageRecord* image) {
  memset(image, 0, sizeof(*image));
  int userCount = settings->userLoaderCount;
  if (userCount < 0) userCount = 0;
  if (userCount > USER_IMAGE_LOADER_MAX) userCount = USER_IMAGE_LOADER_MAX;
  for (int i = 0; i < userCount + IMAGE_LOADER_TABLE_SIZE; i++) {
    ImageLoaderFunc loader = i < userCount ? settings->userLoaders[i] : ImageLoaderTable[i - userCount];
    if (loader == nullptr) continue;
    ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
    memset(image, 0, sizeof(*image));
    if (loader(stream, image) == 0) return 0;
  }
  memset(image, 0, sizeof(*image));
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  return -1;
}

int LoadBaseImageCore(const ImageLoadSettings* settings, const char* fileName, const void* bytes, int byteCount,
                      int memoryFlag, int bitmapFlag, int mirrorFlag, BaseImageRecord* image, BITMAPINFO** bitmapInfo,
                      void** bitmapBits) {
  if (settings == nullptr) return -1;
  if (image != nullptr) memset(image, 0, sizeof(*image));
  if (bitmapFlag) {
    if (bitmapInfo == nullptr || bitmapBits == nullptr) return -1;
    *bitmapInfo = nullptr;
    *bitmapBits = nullptr;
  } else if (image == nullptr) {
    return -1;
  }

  ImageLoadStream stream;
  if (memoryFlag) {
    if (bytes == nullptr || byteCount < 0) return -1;
    stream.functions = settings->memoryStream;
    stream.handle = reinterpret_cast<StreamHandle>(CreateMemoryStream(bytes, static_cast<uint32_t>(byteCount)));
    if (stream.handle == 0) return -1;
  } else {
    if (fileName == nullptr) return -1;
    stream.functions = settings->fileStream;
    stream.handle = settings->fileAccess.Open(fileName, 0, 1, 0);
    if (stream.handle == 0) {
      LogPrintf(LOG_IMAGE_FILE_NOT_OPENED, fileName);
      return -1;
    }
  }

  BaseImageRecord loaded;
  if (LoadImageByLoaders(settings, &stream, &loaded) != 0) {
    CloseLoadStream(settings, memoryFlag, stream.handle);
    if (memoryFlag) {
      LogPrintf(LOG_MEMORY_IMAGE_UNREADABLE);
    } else {
      LogPrintf(LOG_IMAGE_FILE_UNREADABLE, fileName);
    }
    return -1;
  }
  if (memoryFlag) {
    CloseLoadStream(settings, memoryFlag, stream.handle);
    stream.handle = 0;
  }

  if (mirrorFlag == 1) {
    if (ExpandCompressedBaseImage(&loaded) != 0 || MirrorBaseImageHorizontally(&loaded) != 0) goto fail;
  }

  if (settings->UsePremultipliedAlphaOnLoad) {
    if (loaded.format.alphaWidth == 0 && settings->KeyColorToAlpha == 1) {
      if (KeyColorToZeroAlpha(&loaded, settings->LoadKeyColor) != 0) goto fail;
    } else if (PremultiplyBaseImageAlpha(&loaded) != 0) {
      goto fail;
    }
  }

  if (bitmapFlag) {
    if (ExpandCompressedBaseImage(&loaded) != 0) goto fail;
    BITMAPINFO* info = static_cast<BITMAPINFO*>(MEM_ALLOC_ZEROED(BITMAP_INFO_BLOCK_SIZE));
    if (info == nullptr) goto fail;
    void* bits = nullptr;
    int result = ConvertBaseImageToDIB(&loaded, info, &bits, 0, 0);
    if (result < 0) {
      MemFree(info);
      goto fail;
    }
    if (result == 1) {
      ReleaseBaseImage(&loaded);
    } else {
      // The bits are the image's own pixels; the caller owns them now.
      memset(&loaded, 0, sizeof(loaded));
    }
    *bitmapInfo = info;
    *bitmapBits = bits;
  } else {
    *image = loaded;
  }
  CloseLoadStream(settings, memoryFlag, stream.handle);
  return 0;

fail:
  ReleaseBaseImage(&loaded);
  CloseLoadStream(settings, memoryFlag, stream.handle);
  return -1;
}

int LoadBaseImageWithSettings(const char* fileName, const void* bytes, int byteCount, int memoryFlag, int bitmapFlag,
                              int mirrorFlag, BaseImageRecord* image, BITMAPINFO** bitmapInfo, void** bitmapBits) {
  ImageLoadSettings settings;
  SnapshotImageLoadSettings(&settings);
  return LoadBaseImageCore(&settings, fileName, bytes, byteCount, memoryFlag, bitmapFlag, mirrorFlag, image, bitmapInfo,
                           bitmapBits);
}

int LoadImageToBaseImage(const char* fileName, const void* bytes, int byteCount, int memoryFlag, BaseImageRecord* image,
                         int mirrorFlag) {
  return LoadBaseImageWithSettings(fileName, bytes, byteCount, memoryFlag, 0, mirrorFlag, image, nullptr, nullptr);
}

int LoadBaseImagePair(const ImageLoadSettings* settings, const char* fileName, const void* bytes, int byteCount,
                      int memoryFlag, const void* alphaBytes, int alphaByteCount, int alphaMode, BaseImageRecord* image,
                      BaseImageRecord* alphaImage, int mirrorFlag) {
  if (alphaImage != nullptr) memset(alphaImage, 0, sizeof(*alphaImage));
  if (LoadBaseImageCore(settings, fileName, bytes, byteCount, memoryFlag, 0, mirrorFlag, image, nullptr, nullptr) !=
      0) {
    return -1;
  }
  if (alphaImage == nullptr) return 1;
  int result;
  if (alphaMode == 0) {
    if (fileName == nullptr) return 1;
    const int length = GetStringLength(fileName);
    char* alphaName = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(length) + 3));
    if (alphaName == nullptr) return 1;
    MakeAlphaImageFileName(fileName, alphaName);
    // A missing alpha file is the normal case: open it quietly first.
    StreamHandle probe = settings->fileAccess.Open(alphaName, 0, 1, 0);
    if (probe == 0) {
      MemFree(alphaName);
      return 1;
    }
    settings->fileAccess.Close(probe);
    result = LoadBaseImageCore(settings, alphaName, nullptr, 0, 0, 0, mirrorFlag, alphaImage, nullptr, nullptr);
    MemFree(alphaName);
  } else if (alphaMode == 1) {
    if (alphaBytes == nullptr) return 1;
    result = LoadBaseImageCore(settings, nullptr, alphaBytes, alphaByteCount, 1, 0, mirrorFlag, alphaImage, nullptr,
                               nullptr);
  } else {
    return 1;
  }
  if (result != 0) {
    memset(alphaImage, 0, sizeof(*alphaImage));
    return 1;
  }
  return 0;
}

int LoadBaseImagePairWithSettings(const char* fileName, const void* bytes, int byteCount, int memoryFlag,
                                  const void* alphaBytes, int alphaByteCount, int alphaMode, BaseImageRecord* image,
                                  BaseImageRecord* alphaImage, int mirrorFlag) {
  ImageLoadSettings settings;
  SnapshotImageLoadSettings(&settings);
  return LoadBaseImagePair(&settings, fileName, bytes, byteCount, memoryFlag, alphaBytes, alphaByteCount, alphaMode,
                           image, alphaImage, mirrorFlag);
}
