// PNG and JPEG loaders over libpng and libjpeg, reading through an image
// load stream; and the wide-character format bridge of the log front end.
#include "DeVirERerImage.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <png.h>
#include <jpeglib.h>
#include <jerror.h>

#include "ReReziRader.h"
#include "ZiDezaru.h"

namespace {

// ---------------------------------------------------------------------------
// PNG

struct PngReadState {
  ImageLoadStream* stream;
  int64_t dataEnd;  // stream position of the end of the data
};

// Every libpng error comes back to the loader's jump point; warnings are
// dropped.
void PngErrorCallback(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarningCallback(png_structp, png_const_charp) {}

// libpng's own blocks come from the tracked allocator, so a block a failed
// decode left behind shows in the allocation list.
png_voidp PngAllocCallback(png_structp, png_alloc_size_t size) {
  if (static_cast<uint64_t>(size) > 0x7fffffffu) return nullptr;
  return MEM_ALLOC(static_cast<size_t>(size));
}
void PngFreeCallback(png_structp, png_voidp pointer) { MemFree(pointer); }

void PngReadCallback(png_structp png, png_bytep buffer, png_size_t length) {
  PngReadState* state = reinterpret_cast<PngReadState*>(png_get_io_ptr(png));
  const int64_t position = ImageStreamTell(state->stream);
  if (position < 0 || state->dataEnd - position < static_cast<int64_t>(length)) png_error(png, "Read Error");
  if (ImageStreamReadExact(state->stream, buffer, length) != 0) png_error(png, "Read Error");
}

// Notes where the data ends (nothing to read when the stream cannot tell)
// and makes libpng read through the stream.
void SetupPngReadFunction(png_structp png, PngReadState* state, ImageLoadStream* stream) {
  state->stream = stream;
  const int64_t position = ImageStreamTell(stream);
  const int64_t left = ImageStreamBytesLeft(stream);
  state->dataEnd = (position < 0 || left < 0) ? 0 : position + left;
  png_set_read_fn(png, state, PngReadCallback);
}

// ---------------------------------------------------------------------------
// JPEG

struct JpegErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

enum { JPEG_INPUT_BUFFER_SIZE = 4096 };

struct JpegSourceManager {
  jpeg_source_mgr base;
  JOCTET* buffer;
  int startOfFile;
  ImageLoadStream* stream;
  int64_t bytesLeft;  // bytes of the stream not yet taken into the buffer
};

void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp((reinterpret_cast<JpegErrorManager*>(cinfo->err))->jump, 1);
}

// Messages are not printed anywhere.
void JpegOutputMessage(j_common_ptr) {}

void JpegInitSource(j_decompress_ptr cinfo) { (reinterpret_cast<JpegSourceManager*>(cinfo->src))->startOfFile = 1; }

boolean JpegFillInputBuffer(j_decompress_ptr cinfo) {
  JpegSourceManager* source = reinterpret_cast<JpegSourceManager*>(cinfo->src);
  size_t want = source->bytesLeft >= JPEG_INPUT_BUFFER_SIZE ? static_cast<size_t>(JPEG_INPUT_BUFFER_SIZE)
                                                            : static_cast<size_t>(source->bytesLeft);
  size_t got = 0;
  if (want > 0) {
    got = source->stream->functions.Read(source->buffer, 1, want, source->stream->handle);
    source->bytesLeft = got < want ? 0 : source->bytesLeft - static_cast<int64_t>(got);
  }
  if (got == 0) {
    if (source->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // Data cut short: an inserted end-of-image code ends decoding cleanly.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->buffer[0] = static_cast<JOCTET>(0xFF);
    source->buffer[1] = static_cast<JOCTET>(JPEG_EOI);
    got = 2;
  }
  source->base.next_input_byte = source->buffer;
  source->base.bytes_in_buffer = got;
  source->startOfFile = 0;
  return TRUE;
}

void JpegSkipInputData(j_decompress_ptr cinfo, long count) {
  JpegSourceManager* source = reinterpret_cast<JpegSourceManager*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(source->base.bytes_in_buffer)) {
    count -= static_cast<long>(source->base.bytes_in_buffer);
    if (source->bytesLeft <= 0) {
      // Nothing left to skip over: the next fill ends the data.
      source->base.next_input_byte = source->buffer;
      source->base.bytes_in_buffer = 0;
      return;
    }
    JpegFillInputBuffer(cinfo);
  }
  source->base.next_input_byte += count;
  source->base.bytes_in_buffer -= static_cast<size_t>(count);
}

void JpegTermSource(j_decompress_ptr) {}

void SetupJpegStreamSource(j_decompress_ptr cinfo, ImageLoadStream* stream) {
  JpegSourceManager* source = reinterpret_cast<JpegSourceManager*>(cinfo->src);
  if (source == nullptr) {
    source = reinterpret_cast<JpegSourceManager*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JpegSourceManager)));
    source->buffer = reinterpret_cast<JOCTET*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, JPEG_INPUT_BUFFER_SIZE * sizeof(JOCTET)));
    cinfo->src = &source->base;
  }
  source->base.init_source = JpegInitSource;
  source->base.fill_input_buffer = JpegFillInputBuffer;
  source->base.skip_input_data = JpegSkipInputData;
  source->base.resync_to_restart = jpeg_resync_to_restart;
  source->base.term_source = JpegTermSource;
  source->stream = stream;
  source->bytesLeft = ImageStreamBytesLeft(stream);
  if (source->bytesLeft < 0) source->bytesLeft = 0;
  source->base.bytes_in_buffer = 0;
  source->base.next_input_byte = nullptr;
}

}  // namespace

int LoadPngImage(ImageLoadStream* stream, BaseImageRecord* image) {
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  uint8_t signature[8];
  const int read = ImageStreamReadExact(stream, signature, sizeof(signature));
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  if (read != 0 || memcmp(signature, kSignature, sizeof(kSignature)) != 0) return -1;

  png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PngErrorCallback, PngWarningCallback,
                                             nullptr, PngAllocCallback, PngFreeCallback);
  if (png == nullptr) return -1;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return -1;
  }

  PngReadState state;
  // Set between the jump point and a long jump back to it.
  uint8_t* volatile pixels = nullptr;
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    if (rows != nullptr) MemFree(reinterpret_cast<void*>(rows));
    if (pixels != nullptr) MemFree(pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    memset(image, 0, sizeof(*image));
    ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
    return -1;
  }

  png_set_user_limits(png, IMAGE_LOAD_SIDE_MAX, IMAGE_LOAD_SIDE_MAX);
  SetupPngReadFunction(png, &state, stream);
  png_set_sig_bytes(png, 0);
  png_read_info(png, info);
  png_uint_32 width, height;
  int depth, colorType;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
  const int hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  png_set_strip_16(png);
  png_set_packing(png);
  png_set_packswap(png);
  const int expanded = (colorType == PNG_COLOR_TYPE_GRAY && depth <= 8) || hasTransparency;
  if (expanded) png_set_expand(png);
  // Grey with alpha keeps its alpha as an ARGB8 image.
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY && hasTransparency))
    png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const int64_t rowBytes = static_cast<int64_t>(png_get_rowbytes(png, info));
  const int channels = png_get_channels(png, info);
  const int paletteImage = colorType == PNG_COLOR_TYPE_PALETTE && !expanded;
  const int supported = paletteImage ? channels == 1 : (channels == 1 || channels == 3 || channels == 4);
  if (!supported || rowBytes != static_cast<int64_t>(width) * channels || rowBytes * height > GetImageLoadByteLimit())
    png_error(png, "Unsupported Format");

  pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(rowBytes * height)));
  if (pixels == nullptr) png_error(png, "Out Of Memory");
  rows = static_cast<png_bytep*>(MEM_ALLOC(sizeof(png_bytep) * height));
  if (rows == nullptr) png_error(png, "Out Of Memory");
  for (png_uint_32 y = 0; y < height; y++) rows[y] = pixels + static_cast<int64_t>(y) * rowBytes;
  png_read_image(png, rows);
  MemFree(reinterpret_cast<void*>(rows));
  rows = nullptr;
  png_read_end(png, nullptr);

  ColorFormatRecord& format = image->format;
  if (paletteImage) {
    MakeColorFormatPal8(&format);
    memset(format.palette, 0, sizeof(format.palette));
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(png, info, &palette, &entries) != 0 && palette != nullptr) {
      for (int i = 0; i < entries && i < 256; i++) {
        format.palette[i][0] = palette[i].blue;
        format.palette[i][1] = palette[i].green;
        format.palette[i][2] = palette[i].red;
        format.palette[i][3] = 0;
      }
    }
  } else if (channels == 1) {
    MakeColorFormatGray8(&format);
  } else if (channels == 4) {
    MakeColorFormatARGB8(&format);
  } else {
    MakeColorFormatRGB8(&format);
  }
  SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(height), static_cast<int>(rowBytes), pixels);
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

int LoadJpegImage(ImageLoadStream* stream, BaseImageRecord* image) {
  uint8_t first;
  const int read = ImageStreamReadExact(stream, &first, 1);
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  if (read != 0 || first != 0xFF) return -1;

  jpeg_decompress_struct cinfo;
  JpegErrorManager error;
  memset(&cinfo, 0, sizeof(cinfo));
  cinfo.err = jpeg_std_error(&error.base);
  error.base.error_exit = JpegErrorExit;
  error.base.output_message = JpegOutputMessage;

  uint8_t* volatile pixels = nullptr;
  if (setjmp(error.jump)) {
    if (pixels != nullptr) MemFree(pixels);
    jpeg_destroy_decompress(&cinfo);
    memset(image, 0, sizeof(*image));
    ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
    return -1;
  }

  jpeg_create_decompress(&cinfo);
  SetupJpegStreamSource(&cinfo, stream);
  jpeg_read_header(&cinfo, TRUE);
  if (CheckImageLoadSize(cinfo.image_width, cinfo.image_height) != 0) longjmp(error.jump, 1);
  // Four-channel (CMYK) images are not converted.
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) longjmp(error.jump, 1);
  jpeg_start_decompress(&cinfo);

  const int components = cinfo.output_components;
  if (components != 1 && components != 3) longjmp(error.jump, 1);
  const int64_t rowSize = static_cast<int64_t>(components) * cinfo.output_width;
  const int64_t total = rowSize * cinfo.output_height;
  if (rowSize <= 0 || total > GetImageLoadByteLimit()) longjmp(error.jump, 1);
  JSAMPARRAY sample = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(rowSize), 1);
  pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(total)));
  if (pixels == nullptr) longjmp(error.jump, 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* out = pixels + static_cast<int64_t>(cinfo.output_scanline) * rowSize;
    if (jpeg_read_scanlines(&cinfo, sample, 1) != 1) longjmp(error.jump, 1);
    const JSAMPLE* in = sample[0];
    if (components == 1) {
      memcpy(out, in, static_cast<size_t>(rowSize));
    } else {
      for (JDIMENSION x = 0; x < cinfo.output_width; x++, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
  }
  jpeg_finish_decompress(&cinfo);

  if (components == 1) {
    MakeColorFormatGray8(&image->format);
  } else {
    MakeColorFormatRGB8(&image->format);
  }
  SetLoadedImageRecord(image, static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                       static_cast<int>(rowSize), pixels);
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

int FormatWideLogText(wchar_t* buffer, int bufferChars, const wchar_t* format, va_list args) {
  if (buffer == nullptr || bufferChars <= 0) return -1;
  const int written = _vsnwprintf(buffer, static_cast<size_t>(bufferChars) - 1, format, args);
  buffer[bufferChars - 1] = L'\0';
  return written;
}
