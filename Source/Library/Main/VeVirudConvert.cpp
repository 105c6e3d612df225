// Sound converter: the conversion record, the order in which formats are
// tried, the block buffer and its counters; RIFF WAVE read directly (PCM and
// 32-bit float); RIFF WAVE and MP3 through the Audio Compression Manager;
// Ogg Vorbis is in DeVirERerOgg, MP3 through a DirectShow graph in DeVirERer.
// No lock of its own: one owner drives a record at a time (the stream-sound
// code under the sound lock, or a loader on its own stack).
// Platform: "msacm32.dll" loaded by name (acmFormatSuggest, acmStreamOpen,
// acmStreamClose, acmMetrics, acmStreamPrepareHeader, acmStreamConvert,
// acmStreamUnprepareHeader, acmStreamSize).
#include "VeVirudConvert.h"

#include <string.h>

#include "DeVirERer.h"
#include "DeVirERerOgg.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

AcmLibraryState AcmLibrary;

namespace {
const SystemEntryPoint AcmEntries[] = {
    {"acmFormatSuggest", &AcmLibrary.acmFormatSuggestFunc},
    {"acmStreamOpen", &AcmLibrary.acmStreamOpenFunc},
    {"acmStreamClose", &AcmLibrary.acmStreamCloseFunc},
    {"acmMetrics", &AcmLibrary.acmMetricsFunc},
    {"acmStreamPrepareHeader", &AcmLibrary.acmStreamPrepareHeaderFunc},
    {"acmStreamConvert", &AcmLibrary.acmStreamConvertFunc},
    {"acmStreamUnprepareHeader", &AcmLibrary.acmStreamUnprepareHeaderFunc},
    {"acmStreamSize", &AcmLibrary.acmStreamSizeFunc},
};
enum { ACM_ENTRY_COUNT = sizeof(AcmEntries) / sizeof(AcmEntries[0]) };
}  // namespace

int LoadAcmLibrary() {
  if (AcmLibrary.loaded) return -1;
  if (LoadSystemLibrary("msacm32.dll", &AcmLibrary.module, AcmEntries, ACM_ENTRY_COUNT) != 0) return -1;
  for (int i = 0; i < ACM_ENTRY_COUNT; i++) {
    if (*static_cast<void**>(AcmEntries[i].variable) == nullptr) {
      FreeSystemLibrary(&AcmLibrary.module, AcmEntries, ACM_ENTRY_COUNT);
      return -1;
    }
  }
  AcmLibrary.loaded = 1;
  return 0;
}

int FreeAcmLibrary() {
  if (!AcmLibrary.loaded) return -1;
  FreeSystemLibrary(&AcmLibrary.module, AcmEntries, ACM_ENTRY_COUNT);
  AcmLibrary.loaded = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Stream helpers.

namespace {
int StreamTell(SoundConversion* c) { return static_cast<int>(c->stream.functions.Tell(c->stream.handle)); }
int StreamSeek(SoundConversion* c, int64_t offset, int origin) {
  return c->stream.functions.Seek(c->stream.handle, offset, origin);
}
int StreamRead(SoundConversion* c, void* buffer, size_t size, size_t count) {
  return static_cast<int>(c->stream.functions.Read(buffer, size, count, c->stream.handle));
}
int StreamEof(SoundConversion* c) { return c->stream.functions.Eof(c->stream.handle); }

// Reads exactly n bytes; 0, or -1 when fewer came.
int ReadExact(SoundConversion* c, void* buffer, int n) {
  return StreamRead(c, buffer, 1, static_cast<size_t>(n)) == n ? 0 : -1;
}

int IdEquals(const unsigned char* bytes, const char* id) {
  char text[5];
  memcpy(text, bytes, 4);
  text[4] = 0;
  return CompareStrings(text, id) == 0;
}

uint16_t FormatWord(const WAVEFORMATEX* format, int at) {
  return static_cast<uint16_t>(ReadLE16(reinterpret_cast<const unsigned char*>(format) + at));
}

bool IsPcmSampleWidth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// ---------------------------------------------------------------------------
// RIFF WAVE header walk.

// Walks RIFF, WAVE, an optional "bext" and the "fmt " chunk; hands out the
// chunk's data in a new block (the caller frees it).
int ReadWaveFormatChunk(SoundConversion* c, unsigned char** chunk, int* chunkSize) {
  unsigned char header[8];
  *chunk = nullptr;
  if (ReadExact(c, header, 8) != 0 || !IdEquals(header, "RIFF")) return -1;
  if (ReadExact(c, header, 4) != 0 || !IdEquals(header, "WAVE")) return -1;
  // Chunks before "fmt " ("bext", "LIST", "JUNK" and the like) are
  // skipped with their pad byte.
  for (;;) {
    if (ReadExact(c, header, 8) != 0) return -1;
    if (IdEquals(header, "fmt ")) break;
    if (IdEquals(header, "data")) return -1;
    uint32_t skip = ReadLE32(header + 4);
    StreamSeek(c, static_cast<int64_t>(skip) + (skip & 1), FILE_STREAM_SEEK_CUR);
  }
  uint32_t size = ReadLE32(header + 4);
  if (size < 16 || size > 0x100000) return -1;
  unsigned char* data = static_cast<unsigned char*>(MemAlloc(size, "VeVirudConvert", __LINE__));
  if (data == nullptr) return -1;
  c->formatChunkPosition = StreamTell(c);
  c->formatChunkSize = static_cast<int>(size);
  if (ReadExact(c, data, static_cast<int>(size)) != 0) {
    MemFree(data);
    return -1;
  }
  // An odd-sized format chunk is followed by its pad byte.
  if (size & 1) StreamSeek(c, 1, FILE_STREAM_SEEK_CUR);
  *chunk = data;
  *chunkSize = static_cast<int>(size);
  return 0;
}

// From just after the format chunk: finds "data"; data start and size. A
// size that runs past the end of the stream is cut to what the stream holds.
int FindWaveDataChunk(SoundConversion* c) {
  unsigned char header[8];
  for (;;) {
    if (StreamEof(c) || ReadExact(c, header, 8) != 0) return -1;
    uint32_t size = ReadLE32(header + 4);
    if (IdEquals(header, "data")) {
      c->dataStart = StreamTell(c);
      StreamSeek(c, 0, FILE_STREAM_SEEK_END);
      const int64_t held = static_cast<int64_t>(StreamTell(c)) - c->dataStart;
      StreamSeek(c, c->dataStart, FILE_STREAM_SEEK_SET);
      int64_t bytes = size;
      if (held >= 0 && bytes > held) bytes = held;
      if (bytes <= 0) return -1;
      c->dataSize = static_cast<int>(bytes > 0x7FFFFFFF ? 0x7FFFFFFF : bytes);
      return 0;
    }
    StreamSeek(c, static_cast<int64_t>(size) + (size & 1), FILE_STREAM_SEEK_CUR);
  }
}

// WAVE_FORMAT_PCM or WAVE_FORMAT_IEEE_FLOAT for an extensible format chunk
// whose sub-format is one of them, else 0.
int ExtensibleSampleTag(const unsigned char* chunk, int size) {
  // The sub-format GUID {0000xxxx-0000-0010-8000-00AA00389B71} at 24.
  static const unsigned char base[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  if (size < 40 || ReadLE16(chunk + 16) < 22 || memcmp(chunk + 26, base, sizeof(base)) != 0) return 0;
  const int tag = ReadLE16(chunk + 24);
  return tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT ? tag : 0;
}

WAVEFORMATEX* SourceWaveFormat(SoundConversion* c) {
  return reinterpret_cast<WAVEFORMATEX*>(c->area.wave.sourceFormat);
}
}  // namespace

bool IsPlayablePcmFormat(const WAVEFORMATEX* f) {
  if (f->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f->nChannels == 0 || f->nChannels > SOUND_FORMAT_MAX_CHANNELS) return false;
  if (f->nSamplesPerSec < SOUND_FORMAT_MIN_RATE || f->nSamplesPerSec > SOUND_FORMAT_MAX_RATE) return false;
  if (!IsPcmSampleWidth(f->wBitsPerSample) || f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
  return f->nAvgBytesPerSec == f->nBlockAlign * f->nSamplesPerSec;
}

bool IsConvertibleSourceFormat(const WAVEFORMATEX* f, int size) {
  if (size < 16) return false;
  const int channels = f->nChannels, align = f->nBlockAlign, bits = f->wBitsPerSample;
  if (channels == 0 || channels > SOUND_FORMAT_MAX_CHANNELS) return false;
  if (f->nSamplesPerSec < SOUND_FORMAT_MIN_RATE || f->nSamplesPerSec > SOUND_FORMAT_MAX_RATE) return false;
  if (align == 0 || f->nAvgBytesPerSec == 0) return false;
  const int extra = size >= 18 ? f->cbSize : 0;
  if (size >= 18 && 18 + extra > size) return false;
  switch (f->wFormatTag) {
    case WAVE_FORMAT_PCM: return IsPcmSampleWidth(bits) && align == channels * bits / 8;
    case WAVE_FORMAT_EXTENSIBLE: {
      // Valid bits and container bits; the container sizes the frame.
      const int valid = FormatWord(f, 18);
      return extra >= 22 && IsPcmSampleWidth(bits) && align == channels * bits / 8 && valid > 0 && valid <= bits;
    }
    case WAVE_FORMAT_IEEE_FLOAT: return (bits == 32 || bits == 64) && align == channels * bits / 8;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW: return bits == 8 && align == channels;
    case WAVE_FORMAT_IMA_ADPCM: {
      // 4 header bytes per channel, then 4-bit samples.
      if (bits != 4 || extra < 2 || align <= 4 * channels) return false;
      return FormatWord(f, 18) == (align - 4 * channels) * 2 / channels + 1;
    }
    case WAVE_FORMAT_ADPCM: {
      // 7 header bytes per channel, then 4-bit samples; a coefficient table.
      if (bits != 4 || extra < 4 || align <= 7 * channels || channels > 2) return false;
      const int coefficients = FormatWord(f, 20);
      if (coefficients < 7 || coefficients > 256 || extra < 4 + 4 * coefficients) return false;
      return FormatWord(f, 18) == (align - 7 * channels) * 2 / channels + 2;
    }
    default: return true;  // the codec sizes its own frames
  }
}

int OpenWaveConversion(SoundConversion* c) {
  memset(c->area.raw, 0, sizeof(c->area.raw));
  memset(&c->outputFormat, 0, sizeof(c->outputFormat));
  unsigned char* chunk = nullptr;
  int chunkSize = 0;
  if (ReadWaveFormatChunk(c, &chunk, &chunkSize) != 0) return -1;
  memcpy(c->area.wave.sourceFormat, chunk, chunkSize < WAVE_FORMAT_COPY_SIZE ? chunkSize : WAVE_FORMAT_COPY_SIZE);
  MemFree(chunk);
  WAVEFORMATEX* source = SourceWaveFormat(c);
  if (source->nChannels == 0 || source->nBlockAlign == 0 || source->nSamplesPerSec == 0) return -1;
  // An extensible format of PCM or float samples is read as its plain tag.
  if (source->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    const int tag = ExtensibleSampleTag(c->area.wave.sourceFormat, chunkSize);
    if (tag == 0) return -1;
    source->wFormatTag = static_cast<WORD>(tag);
    source->cbSize = 0;
    chunkSize = 16;
  }
  if (source->wFormatTag == WAVE_FORMAT_PCM) {
    memcpy(&c->outputFormat, source, chunkSize < 18 ? chunkSize : 18);
    if (chunkSize == 16) {
      c->outputFormat.wBitsPerSample = static_cast<WORD>(source->nBlockAlign / source->nChannels * 8);
    }
    c->outputFormat.cbSize = 0;
    // The rate and block align decide the bytes per second, not the header.
    c->outputFormat.nAvgBytesPerSec = c->outputFormat.nBlockAlign * c->outputFormat.nSamplesPerSec;
  } else if (source->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    // Every frame holds a 32-bit float for each channel.
    if (source->nChannels > SOUND_FORMAT_MAX_CHANNELS || source->nBlockAlign < source->nChannels * 4) return -1;
    FillPcmWaveFormat(&c->outputFormat, source->nChannels, 16, static_cast<int>(source->nSamplesPerSec));
    if (!IsPlayablePcmFormat(&c->outputFormat)) return -1;
    // One second of whole source frames: never more frames than the
    // output block (one second) holds.
    const int size = static_cast<int>(source->nSamplesPerSec) * source->nBlockAlign;
    c->area.wave.floatBuffer = static_cast<unsigned char*>(MemAlloc(size, "VeVirudConvert", __LINE__));
    if (c->area.wave.floatBuffer == nullptr) return -1;
    c->area.wave.floatBufferSize = size;
  } else {
    return -1;
  }
  if (!IsPlayablePcmFormat(&c->outputFormat) || FindWaveDataChunk(c) != 0) {
    if (c->area.wave.floatBuffer) MemFree(c->area.wave.floatBuffer);
    c->area.wave.floatBuffer = nullptr;
    return -1;
  }
  c->blockSize = static_cast<int>(c->outputFormat.nAvgBytesPerSec);
  c->kind = SOUND_CONVERT_WAVE;
  return 0;
}

int16_t FloatSampleTo16(float value) {
  float scaled = value * 32768.0f;
  if (!(scaled > -32768.0f)) return -32768;  // also NaN
  if (scaled >= 32767.0f) return 32767;
  int v = TruncateFloatToInt(scaled);
  if (v < -32768) v = -32768;
  if (v > 32767) v = 32767;
  return static_cast<int16_t>(v);
}

int ConvertWaveBlock(SoundConversion* c) {
  int remaining = c->dataSize - (StreamTell(c) - c->dataStart);
  if (remaining <= 0) return -1;
  WAVEFORMATEX* source = SourceWaveFormat(c);
  if (source->wFormatTag == WAVE_FORMAT_PCM) {
    int n = remaining < c->blockSize ? remaining : c->blockSize;
    // Bytes actually read: a data chunk that claims more than the stream
    // holds ends where the stream ends.
    int got = StreamRead(c, c->blockBuffer, 1, static_cast<size_t>(n));
    if (got <= 0) return -1;
    c->bytesLeft = got;
    return 0;
  }
  int n = remaining < c->area.wave.floatBufferSize ? remaining : c->area.wave.floatBufferSize;
  int got = StreamRead(c, c->area.wave.floatBuffer, 1, static_cast<size_t>(n));
  int frames = got > 0 ? got / source->nBlockAlign : 0;
  if (frames <= 0) return -1;
  int channels = source->nChannels;
  int16_t* out = reinterpret_cast<int16_t*>(c->blockBuffer);
  for (int f = 0; f < frames; f++) {
    const unsigned char* frame = c->area.wave.floatBuffer + f * source->nBlockAlign;
    for (int ch = 0; ch < channels; ch++) {
      float value;
      memcpy(&value, frame + ch * 4, 4);
      *out++ = FloatSampleTo16(value);
    }
  }
  c->bytesLeft = frames * c->outputFormat.nBlockAlign;
  return 0;
}

int SeekWaveConversion(SoundConversion* c, int sample) {
  StreamSeek(c, static_cast<int64_t>(c->dataStart) + static_cast<int64_t>(sample) * SourceWaveFormat(c)->nBlockAlign,
             FILE_STREAM_SEEK_SET);
  c->outputPosition = sample * c->outputFormat.nBlockAlign;
  c->bytesLeft = 0;
  c->readOffset = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Through ACM.

namespace {
void CloseAcmStreams(SoundConversion* c) {
  AcmConvertArea* a = &c->area.acm;
  if (a->activeStream) AcmLibrary.acmStreamCloseFunc(a->activeStream, 0);
  if (a->spareStream) AcmLibrary.acmStreamCloseFunc(a->spareStream, 0);
  a->activeStream = nullptr;
  a->spareStream = nullptr;
}
}  // namespace

void ReleaseAcmConversion(SoundConversion* c) {
  AcmConvertArea* a = &c->area.acm;
  if (a->sourceFormat) MemFree(a->sourceFormat);
  a->sourceFormat = nullptr;
  if (AcmLibrary.loaded) CloseAcmStreams(c);
  if (a->sourceData) MemFree(a->sourceData);
  a->sourceData = nullptr;
}

namespace {
int OpenAcmStream(SoundConversion* c, HACMSTREAM* stream) {
  return AcmLibrary.acmStreamOpenFunc(stream, nullptr, c->area.acm.sourceFormat, &c->outputFormat, nullptr, 0, 0,
                                      ACM_STREAMOPENF_NONREALTIME) == 0
             ? 0
             : -1;
}

// From the stream at the data start: suggests the output, reads the source
// data whole, opens the two streams.
int FinishAcmSetup(SoundConversion* c) {
  AcmConvertArea* a = &c->area.acm;
  memset(&c->outputFormat, 0, sizeof(c->outputFormat));
  c->outputFormat.wFormatTag = WAVE_FORMAT_PCM;
  if (AcmLibrary.acmFormatSuggestFunc(nullptr, a->sourceFormat, &c->outputFormat, sizeof(WAVEFORMATEX),
                                      ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
    return -1;
  if (!IsPlayablePcmFormat(&c->outputFormat) || c->dataSize <= 0) return -1;
  a->sourceData = static_cast<unsigned char*>(MemAlloc(c->dataSize, "VeVirudConvert", __LINE__));
  if (a->sourceData == nullptr) return -1;
  // Bytes actually present.
  a->sourceSize = StreamRead(c, a->sourceData, 1, static_cast<size_t>(c->dataSize));
  if (a->sourceSize <= 0) return -1;
  a->sourcePosition = 0;
  StreamSeek(c, c->dataStart, FILE_STREAM_SEEK_SET);
  if (OpenAcmStream(c, &a->activeStream) != 0 || OpenAcmStream(c, &a->spareStream) != 0) return -1;
  c->kind = SOUND_CONVERT_ACM;
  return 0;
}
}  // namespace

int OpenAcmWaveConversion(SoundConversion* c) {
  if (!AcmLibrary.loaded) return -1;
  AcmConvertArea* a = &c->area.acm;
  memset(c->area.raw, 0, sizeof(c->area.raw));
  a->sampleCount = -1;
  unsigned char* chunk = nullptr;
  int chunkSize = 0;
  if (ReadWaveFormatChunk(c, &chunk, &chunkSize) != 0) return -1;
  // At least a whole WAVEFORMATEX, so that the extra-size field exists.
  int size = chunkSize < static_cast<int>(sizeof(WAVEFORMATEX)) ? static_cast<int>(sizeof(WAVEFORMATEX)) : chunkSize;
  a->sourceFormat = static_cast<WAVEFORMATEX*>(MemAllocZeroed(size, "VeVirudConvert", __LINE__));
  if (a->sourceFormat == nullptr) {
    MemFree(chunk);
    return -1;
  }
  memcpy(a->sourceFormat, chunk, chunkSize);
  MemFree(chunk);
  if (a->sourceFormat->wFormatTag == WAVE_FORMAT_PCM && chunkSize == 16 && a->sourceFormat->nChannels) {
    a->sourceFormat->wBitsPerSample = static_cast<WORD>(a->sourceFormat->nBlockAlign / a->sourceFormat->nChannels * 8);
    a->sourceFormat->cbSize = 0;
  }
  // The extra size never claims more than the chunk holds.
  if (chunkSize < 18 || a->sourceFormat->cbSize > chunkSize - 18) a->sourceFormat->cbSize = 0;
  // Nothing the platform's converters would divide by or size frames from
  // goes to them unchecked.
  if (!IsConvertibleSourceFormat(a->sourceFormat, size) || FindWaveDataChunk(c) != 0 || FinishAcmSetup(c) != 0) {
    ReleaseAcmConversion(c);
    return -1;
  }
  c->blockSize = static_cast<int>(c->outputFormat.nAvgBytesPerSec);
  return 0;
}

int ConvertAcmBlock(SoundConversion* c) {
  AcmConvertArea* a = &c->area.acm;
  if (a->sourcePosition >= a->sourceSize) return -1;
  ACMSTREAMHEADER header;
  memset(&header, 0, sizeof(header));
  header.cbStruct = sizeof(header);
  header.pbSrc = a->sourceData + a->sourcePosition;
  int left = a->sourceSize - a->sourcePosition;
  header.cbSrcLength = static_cast<DWORD>(left < 2048 ? left : 2048);
  header.pbDst = c->blockBuffer;
  header.cbDstLength = static_cast<DWORD>(c->blockSize);
  if (AcmLibrary.acmStreamPrepareHeaderFunc(a->activeStream, &header, 0) != 0) return -1;
  AcmLibrary.acmStreamConvertFunc(a->activeStream, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
  c->bytesLeft = static_cast<int>(header.cbDstLengthUsed);
  a->sourcePosition += static_cast<int>(header.cbSrcLengthUsed);
  AcmLibrary.acmStreamUnprepareHeaderFunc(a->activeStream, &header, 0);
  if (c->bytesLeft <= 0) {
    c->bytesLeft = 0;
    a->sourcePosition = a->sourceSize;
    return -1;
  }
  return 0;
}

namespace {
void MoveWithinBlock(SoundConversion* c, int target) {
  int step = target - c->outputPosition;
  c->readOffset += step;
  c->bytesLeft -= step;
  c->outputPosition = target;
}
}  // namespace

int SeekAcmConversion(SoundConversion* c, int sample) {
  AcmConvertArea* a = &c->area.acm;
  int target = sample * c->outputFormat.nBlockAlign;
  if (target >= c->outputPosition && target <= c->outputPosition + c->bytesLeft) {
    MoveWithinBlock(c, target);
    return 0;
  }
  if (target < c->outputPosition) {
    HACMSTREAM old = a->activeStream;
    a->activeStream = a->spareStream;
    a->spareStream = nullptr;
    a->sourcePosition = 0;
    c->outputPosition = 0;
    c->bytesLeft = 0;
    c->readOffset = 0;
    AcmLibrary.acmStreamCloseFunc(old, 0);
    if (OpenAcmStream(c, &a->spareStream) != 0) a->spareStream = nullptr;
  }
  while (c->outputPosition + c->bytesLeft < target) {
    c->outputPosition += c->bytesLeft;
    c->bytesLeft = 0;
    c->readOffset = 0;
    if (ConvertAcmBlock(c) != 0) {
      c->bytesLeft = 0;
      return 0;
    }
  }
  MoveWithinBlock(c, target);
  return 0;
}

// ---------------------------------------------------------------------------
// MP3 through ACM.

namespace {
// clang-format off
const uint32_t Mp3Bitrates[85] = {
    0,
    // MPEG-1 Layer I, II, III
    32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448,
    32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384,
    32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320,
    // MPEG-2 (low sampling frequencies) Layer I, II, III
    32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256,
    8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160,
    8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160,
};
// clang-format on
const uint32_t Mp3SampleRates[6] = {44100, 48000, 32000, 22050, 24000, 16000};
}  // namespace

int ParseMp3FrameHeader(const unsigned char* b, Mp3FrameHeader* h) {
  if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) return -2;
  h->version = (b[1] & 0x08) ? 0 : 1;
  int layer = 3 - ((b[1] >> 1) & 3);
  if (layer > 2) return -1;
  h->layer = static_cast<uint8_t>(layer);
  h->bitrateIndex = static_cast<uint8_t>(b[2] >> 4);
  // Free format (index 0) has no bitrate to size frames with: refused.
  if (h->bitrateIndex == 15 || h->bitrateIndex == 0) return -1;
  h->bitrate = Mp3Bitrates[h->bitrateIndex + (h->version * 3 + h->layer) * 14];
  h->sampleRateIndex = static_cast<uint8_t>((b[2] >> 2) & 3);
  if (h->sampleRateIndex == 3) return -1;
  h->sampleRate = Mp3SampleRates[h->sampleRateIndex + h->version * 3];
  h->padding = static_cast<uint8_t>((b[2] >> 1) & 1);
  h->channels = (b[3] & 0xC0) == 0xC0 ? 1 : 2;
  if (h->layer == 0) {
    h->frameLength = ((h->bitrate * 12000) / h->sampleRate + h->padding) * 4;
    h->samplesPerFrame = 384;
  } else if (h->layer == 1 || h->version == 0) {
    h->frameLength = (h->bitrate * 144000) / h->sampleRate + h->padding;
    h->samplesPerFrame = 1152;
  } else {
    h->frameLength = (h->bitrate * 72000) / h->sampleRate + h->padding;
    h->samplesPerFrame = 576;
  }
  return 0;
}

bool LooksLikeMpegAudio(const unsigned char* bytes, int64_t size) {
  enum { SEARCH_LIMIT = 65536, ID3V1_SIZE = 128 };
  int64_t at = 0;
  if (size >= 10 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3') {
    at = (((bytes[6] & 0x7F) * 128 + (bytes[7] & 0x7F)) * 128 + (bytes[8] & 0x7F)) * 128 + (bytes[9] & 0x7F) + 10;
    if (bytes[3] == 4 && (bytes[5] & 0x10)) at += 10;
  }
  for (const int64_t end = at + SEARCH_LIMIT; at + 4 <= size && at < end; at++) {
    Mp3FrameHeader first, second;
    if (ParseMp3FrameHeader(bytes + at, &first) != 0 || first.frameLength < 4) continue;
    const int64_t next = at + first.frameLength;
    if (next > size) continue;
    if (size - next < 4) return true;  // the stream ends with this frame
    if (ParseMp3FrameHeader(bytes + next, &second) == 0 && second.version == first.version &&
        second.layer == first.layer && second.sampleRate == first.sampleRate)
      return true;
    if (size - next == ID3V1_SIZE && memcmp(bytes + next, "TAG", 3) == 0) return true;
  }
  return false;
}

// Reads one byte; -1 at the end.
namespace {
int ReadByte(SoundConversion* c) {
  unsigned char b;
  return StreamRead(c, &b, 1, 1) == 1 ? b : -1;
}
}  // namespace

int OpenAcmMp3Conversion(SoundConversion* c) {
  if (!AcmLibrary.loaded) return -1;
  AcmConvertArea* a = &c->area.acm;
  memset(c->area.raw, 0, sizeof(c->area.raw));
  a->sampleCount = 0;

  StreamSeek(c, 0, FILE_STREAM_SEEK_END);
  int fileSize = StreamTell(c);
  StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  // Files of 128 bytes or less hold no frame worth decoding.
  if (fileSize <= 128) return -1;

  unsigned char bytes[10];
  int tagSize = 0;
  if (ReadExact(c, bytes, 3) == 0 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3' &&
      ReadExact(c, bytes + 3, 7) == 0) {
    tagSize = (((bytes[6] * 128 + bytes[7]) * 128 + bytes[8]) * 128 + bytes[9]) + 10;
    if (bytes[3] == 4 && (bytes[5] & 0x10)) tagSize += 10;
  }
  int tailSize = 0;
  StreamSeek(c, fileSize - 128, FILE_STREAM_SEEK_SET);
  if (ReadExact(c, bytes, 3) == 0 && bytes[0] == 'T' && bytes[1] == 'A' && bytes[2] == 'G') tailSize = 128;
  int endLimit = fileSize - tailSize;

  StreamSeek(c, tagSize, FILE_STREAM_SEEK_SET);
  int firstFrame = -1;
  int dataEnd = -1;
  int frames = 0;
  Mp3FrameHeader header;
  for (;;) {
    int b0 = ReadByte(c);
    if (b0 < 0) break;
    if (b0 != 0xFF) continue;
    int b1 = ReadByte(c);
    if (b1 < 0) break;
    if ((b1 & 0xF0) != 0xF0) continue;
    unsigned char frame[4] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1), 0, 0};
    if (ReadExact(c, frame + 2, 2) != 0) break;
    if (ParseMp3FrameHeader(frame, &header) < 0 || header.frameLength == 0) return -1;
    int position = StreamTell(c) - 4;
    // The first frame is followed by the second at once: a lone sync
    // pattern in other data is no MPEG stream.
    if (firstFrame >= 0 && frames == 1 && position != dataEnd) return -1;
    if (firstFrame < 0) firstFrame = position;
    frames++;
    a->sampleCount += static_cast<int>(header.samplesPerFrame);
    int frameEnd = position + static_cast<int>(header.frameLength);
    dataEnd = frameEnd;
    if (frameEnd < endLimit) {
      StreamSeek(c, header.frameLength - 4, FILE_STREAM_SEEK_CUR);
      continue;
    }
    dataEnd = frameEnd < endLimit ? frameEnd : endLimit;
    break;
  }
  if (firstFrame < 0) return -1;
  // A lone frame must reach the end of the data.
  if (frames == 1 && dataEnd < endLimit - 4) return -1;
  if (dataEnd > endLimit) dataEnd = endLimit;

  StreamSeek(c, firstFrame, FILE_STREAM_SEEK_SET);
  if (ReadExact(c, bytes, 4) != 0 || ParseMp3FrameHeader(bytes, &header) < 0) return -1;

  DWORD formatSize = 0;
  if (AcmLibrary.acmMetricsFunc(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &formatSize) != 0 || formatSize == 0)
    formatSize = 30;
  if (formatSize < sizeof(MPEGLAYER3WAVEFORMAT)) formatSize = sizeof(MPEGLAYER3WAVEFORMAT);
  MPEGLAYER3WAVEFORMAT* mp3 = static_cast<MPEGLAYER3WAVEFORMAT*>(
      MemAllocZeroed(formatSize, "VeVirudConvert", __LINE__));
  if (mp3 == nullptr) return -1;
  mp3->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3->wfx.nChannels = header.channels;
  mp3->wfx.nSamplesPerSec = header.sampleRate;
  mp3->wfx.nAvgBytesPerSec = header.bitrate * 1000 / 8;
  mp3->wfx.nBlockAlign = 1;
  mp3->wfx.wBitsPerSample = 0;
  mp3->wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  mp3->wID = MPEGLAYER3_ID_MPEG;
  mp3->fdwFlags = header.padding ? MPEGLAYER3_FLAG_PADDING_ON : MPEGLAYER3_FLAG_PADDING_ISO;
  mp3->nBlockSize = static_cast<WORD>(header.frameLength);
  mp3->nFramesPerBlock = 1;
  mp3->nCodecDelay = 700;
  a->sourceFormat = &mp3->wfx;

  StreamSeek(c, firstFrame, FILE_STREAM_SEEK_SET);
  c->dataStart = firstFrame;
  c->dataSize = dataEnd - firstFrame;
  if (FinishAcmSetup(c) != 0) {
    int count = a->sampleCount;
    ReleaseAcmConversion(c);
    a->sampleCount = count;
    return -1;
  }
  c->blockSize = static_cast<int>(c->outputFormat.nAvgBytesPerSec * 4 / 3);
  return 0;
}

// ---------------------------------------------------------------------------
// The converter.

namespace {
int FillBlock(SoundConversion* c) {
  switch (c->kind) {
    case SOUND_CONVERT_WAVE: return ConvertWaveBlock(c);
    case SOUND_CONVERT_ACM: return ConvertAcmBlock(c);
    case SOUND_CONVERT_OGG: return ConvertOggBlock(c);
    case SOUND_CONVERT_MEMORY: {
      MemoryConvertArea* m = &c->area.memory;
      if (m->readPosition >= m->size) return -1;
      int n = m->size - m->readPosition;
      if (n > c->blockSize) n = c->blockSize;
      memcpy(c->blockBuffer, m->data + m->readPosition, n);
      c->bytesLeft = n;
      m->readPosition += n;
      return 0;
    }
    default: return -1;
  }
}

void ReleaseKind(SoundConversion* c) {
  switch (c->kind) {
    case SOUND_CONVERT_WAVE:
      if (c->area.wave.floatBuffer) MemFree(c->area.wave.floatBuffer);
      c->area.wave.floatBuffer = nullptr;
      break;
    case SOUND_CONVERT_ACM: ReleaseAcmConversion(c); break;
    case SOUND_CONVERT_OGG: ReleaseOggConversion(c); break;
    case SOUND_CONVERT_MEMORY:
      if (c->area.memory.data) MemFree(c->area.memory.data);
      c->area.memory.data = nullptr;
      break;
    default: break;
  }
}
}  // namespace

int BeginSoundConversion(SoundConversion* c, const StreamData* stream, int disableMask, int oggBytesPerSample,
                         int oggVariant) {
  memset(c, 0, sizeof(*c));
  c->oggBytesPerSample = oggBytesPerSample;
  c->oggVariant = oggVariant;
  c->stream = *stream;
  StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  int found = 0;
  if (!(disableMask & SOUND_CONVERT_SKIP_WAVE)) {
    found = OpenWaveConversion(c) == 0;
    if (!found) StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  }
  if (!found && !(disableMask & SOUND_CONVERT_SKIP_ACM_WAVE)) {
    found = OpenAcmWaveConversion(c) == 0;
    if (!found) StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  }
  if (!found && !(disableMask & SOUND_CONVERT_SKIP_OGG)) {
    found = OpenOggConversion(c) == 0;
    if (!found) StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  }
  if (!found && !(disableMask & SOUND_CONVERT_SKIP_ACM_MP3)) {
    found = OpenAcmMp3Conversion(c) == 0;
    if (!found) StreamSeek(c, 0, FILE_STREAM_SEEK_SET);
  }
  if (!found && !(disableMask & SOUND_CONVERT_SKIP_DSHOW_MP3)) found = DecodeMp3WithMediaGraph(c) == 0;
  if (!found) return -1;
  if (!IsPlayablePcmFormat(&c->outputFormat)) {
    ReleaseKind(c);
    return -1;
  }

  c->valid = 0;
  c->endFlag = 0;
  c->blockBuffer = c->blockSize > 0 ? static_cast<unsigned char*>(MemAlloc(c->blockSize, "VeVirudConvert", 237))
                                    : nullptr;
  if (c->blockBuffer == nullptr) {
    ReleaseKind(c);
    return -1;
  }
  c->bytesLeft = 0;
  c->readOffset = 0;
  c->outputPosition = 0;
  c->valid = 1;
  return 0;
}

int ConvertSoundBlock(SoundConversion* c, void* destination, int count) {
  if (!c->valid) return -1;
  if (c->endFlag || count <= 0) return 0;
  unsigned char* out = static_cast<unsigned char*>(destination);
  int written = 0;
  while (count > 0) {
    if (c->bytesLeft == 0) {
      c->readOffset = 0;
      if (FillBlock(c) != 0) {
        c->bytesLeft = 0;
        c->endFlag = 1;
        return written;
      }
    }
    int n = count < c->bytesLeft ? count : c->bytesLeft;
    memcpy(out, c->blockBuffer + c->readOffset, n);
    c->readOffset += n;
    c->outputPosition += n;
    written += n;
    out += n;
    c->bytesLeft -= n;
    count -= n;
  }
  return written;
}

int SeekSoundConversion(SoundConversion* c, int sample) {
  int target = sample * c->outputFormat.nBlockAlign;
  int difference = target - c->outputPosition;
  if (difference < 0) difference = -difference;
  if (difference < 16) return 0;
  int result;
  switch (c->kind) {
    case SOUND_CONVERT_WAVE: result = SeekWaveConversion(c, sample); break;
    case SOUND_CONVERT_ACM: result = SeekAcmConversion(c, sample); break;
    case SOUND_CONVERT_OGG: result = SeekOggConversion(c, sample); break;
    case SOUND_CONVERT_MEMORY:
      c->area.memory.readPosition = target < c->area.memory.size ? target : c->area.memory.size;
      c->outputPosition = target;
      c->bytesLeft = 0;
      c->readOffset = 0;
      result = 0;
      break;
    default: return -1;
  }
  c->endFlag = 0;
  return result;
}

int GetConvertedSoundSize(SoundConversion* c) {
  switch (c->kind) {
    case SOUND_CONVERT_WAVE: {
      WAVEFORMATEX* source = SourceWaveFormat(c);
      if (source->wFormatTag == WAVE_FORMAT_PCM) return c->dataSize;
      if (source->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        // Whole source frames, each giving one output frame.
        return c->dataSize / source->nBlockAlign * c->outputFormat.nBlockAlign;
      }
      return -1;
    }
    case SOUND_CONVERT_ACM: {
      if (c->area.acm.sampleCount >= 0) return c->area.acm.sampleCount * c->outputFormat.nBlockAlign;
      DWORD size = 0;
      AcmLibrary.acmStreamSizeFunc(c->area.acm.activeStream, static_cast<DWORD>(c->area.acm.sourceSize), &size,
                                   ACM_STREAMSIZEF_SOURCE);
      return static_cast<int>(size);
    }
    case SOUND_CONVERT_OGG: return GetOggConvertedSize(c);
    case SOUND_CONVERT_MEMORY: return c->area.memory.size;
    default: return 0;
  }
}

void GetConvertedWaveFormat(SoundConversion* c, WAVEFORMATEX* format) { memcpy(format, &c->outputFormat, 18); }

int ConvertWholeSound(SoundConversion* c, WAVEFORMATEX* format, void** buffer, int* byteCount) {
  int size = GetConvertedSoundSize(c);
  if (size < 0) return -1;
  void* data = MemAlloc(size > 0 ? size : 1, "VeVirudConvert", 492);
  if (data == nullptr) return -1;
  SeekSoundConversion(c, 0);
  int produced;
  if (c->kind == SOUND_CONVERT_WAVE && SourceWaveFormat(c)->wFormatTag == WAVE_FORMAT_PCM) {
    // Element size 1: the bytes actually read, never more than the stream holds.
    SeekWaveConversion(c, 0);
    produced = StreamRead(c, data, 1, static_cast<size_t>(size));
    if (produced < 0) produced = 0;
    // The stream now stands after the bytes handed out.
    c->outputPosition = produced;
    c->bytesLeft = 0;
    c->readOffset = 0;
  } else {
    produced = ConvertSoundBlock(c, data, size);
    if (produced < 0) produced = 0;
  }
  GetConvertedWaveFormat(c, format);
  *buffer = data;
  *byteCount = produced;
  return 0;
}

int EndSoundConversion(SoundConversion* c) {
  if (!c->valid) return -1;
  if (c->blockBuffer) MemFree(c->blockBuffer);
  c->blockBuffer = nullptr;
  ReleaseKind(c);
  c->valid = 0;
  return 0;
}

void FillPcmWaveFormat(WAVEFORMATEX* format, int channels, int bits, int rate) {
  memset(format, 0, sizeof(*format));
  format->wFormatTag = WAVE_FORMAT_PCM;
  format->nChannels = static_cast<WORD>(channels);
  format->nSamplesPerSec = static_cast<DWORD>(rate);
  format->wBitsPerSample = static_cast<WORD>(bits);
  format->nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
}
