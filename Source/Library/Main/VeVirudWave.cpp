// Wave files: RIFF/WAVE images in memory (`BuildWaveImage`), the capture file
// (16-bit stereo 44100 Hz PCM appended by the caller, completed with its
// header by `WriteWaveFile`) and whole-stream reads.
// Threads: the capture state has no lock; one thread owns a capture.
// Platform: CreateFileA, WriteFile, SetFilePointer, CloseHandle.
#include <windows.h>
#include <string.h>

#include "RaRadaraLog.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {

const char LOG_WAVE_IMAGE_ALLOC[] = "仮WAVEファイルイメージ用のメモリ確保に失敗しました";
const char LOG_STREAM_ALLOC[] = "ストリームの読み込みに必要なメモリの確保に失敗しました";
const char LOG_CAPTURE_OPEN[] = "WAVEファイルの作成に失敗しました";

enum {
  CAPTURE_CHANNELS = 2,
  CAPTURE_RATE = 44100,
  CAPTURE_BLOCK_ALIGN = 4,
  CAPTURE_HEADER_SIZE = 46,
};

struct CaptureState {
  HANDLE file;
  unsigned int frames;
};
CaptureState Capture = {INVALID_HANDLE_VALUE, 0};

void PutU32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
void PutU16(unsigned char* at, uint16_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

int WriteAll(HANDLE file, const void* data, unsigned int size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size ? 0 : -1;
}

}  // namespace

int BuildWaveImage(void** image, int* imageSize, const WAVEFORMATEX* format, int formatSize, const void* data,
                   int dataSize) {
  if (image == nullptr || imageSize == nullptr || format == nullptr || formatSize < 0 || dataSize < 0 ||
      (data == nullptr && dataSize > 0)) {
    return -1;
  }
  int total = formatSize + dataSize + 28;
  unsigned char* out = static_cast<unsigned char*>(MEM_ALLOC(total));
  if (out == nullptr) {
    LogPrintf(LOG_WAVE_IMAGE_ALLOC);
    return -1;
  }
  unsigned char* p = out;
  memcpy(p, "RIFF", 4);
  PutU32(p + 4, static_cast<uint32_t>(total - 8));
  memcpy(p + 8, "WAVE", 4);
  memcpy(p + 12, "fmt ", 4);
  PutU32(p + 16, static_cast<uint32_t>(formatSize));
  p += 20;
  memcpy(p, format, formatSize);
  p += formatSize;
  memcpy(p, "data", 4);
  PutU32(p + 4, static_cast<uint32_t>(dataSize));
  if (dataSize > 0) memcpy(p + 8, data, dataSize);
  *image = out;
  *imageSize = total;
  return 0;
}

int OpenWaveCaptureFile(const char* path) {
  if (Capture.file != INVALID_HANDLE_VALUE || path == nullptr) return -1;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogPrintf(LOG_CAPTURE_OPEN);
    return -1;
  }
  // Room for the header, written when the capture is completed.
  unsigned char header[CAPTURE_HEADER_SIZE] = {};
  if (WriteAll(file, header, sizeof(header)) != 0) {
    CloseHandle(file);
    return -1;
  }
  Capture.file = file;
  Capture.frames = 0;
  return 0;
}

int AddWaveCaptureFrames(const int16_t* samples, int frames) {
  if (Capture.file == INVALID_HANDLE_VALUE || frames < 0 || (samples == nullptr && frames > 0)) return -1;
  if (frames == 0) return 0;
  if (WriteAll(Capture.file, samples, static_cast<unsigned int>(frames) * CAPTURE_BLOCK_ALIGN) != 0) return -1;
  Capture.frames += static_cast<unsigned int>(frames);
  return 0;
}

int WriteWaveFile() {
  if (Capture.file == INVALID_HANDLE_VALUE) return -1;
  uint32_t dataSize = CAPTURE_BLOCK_ALIGN * Capture.frames;
  unsigned char h[CAPTURE_HEADER_SIZE];
  memcpy(h, "RIFF", 4);
  PutU32(h + 4, 38 + dataSize);
  memcpy(h + 8, "WAVE", 4);
  memcpy(h + 12, "fmt ", 4);
  PutU32(h + 16, 18);
  PutU16(h + 20, WAVE_FORMAT_PCM);
  PutU16(h + 22, CAPTURE_CHANNELS);
  PutU32(h + 24, CAPTURE_RATE);
  PutU32(h + 28, CAPTURE_RATE * CAPTURE_BLOCK_ALIGN);
  PutU16(h + 32, CAPTURE_BLOCK_ALIGN);
  PutU16(h + 34, 16);
  PutU16(h + 36, 0);
  memcpy(h + 38, "data", 4);
  PutU32(h + 42, dataSize);
  SetFilePointer(Capture.file, 0, nullptr, FILE_BEGIN);
  int result = WriteAll(Capture.file, h, sizeof(h));
  CloseHandle(Capture.file);
  Capture.file = INVALID_HANDLE_VALUE;
  Capture.frames = 0;
  return result;
}

int ReadWholeStream(const StreamData* stream, void** data, int* size) {
  if (stream == nullptr || data == nullptr || size == nullptr) return -1;
  stream->functions.Seek(stream->handle, 0, FILE_STREAM_SEEK_END);
  int64_t length = stream->functions.Tell(stream->handle);
  stream->functions.Seek(stream->handle, 0, FILE_STREAM_SEEK_SET);
  if (length < 0 || length > 0x7FFFFFFF) return -1;
  void* out = MEM_ALLOC(length > 0 ? static_cast<size_t>(length) : 1);
  if (out == nullptr) {
    LogPrintf(LOG_STREAM_ALLOC);
    return -1;
  }
  size_t got = stream->functions.Read(out, 1, static_cast<size_t>(length), stream->handle);
  if (got != static_cast<size_t>(length)) {
    MemFree(out);
    return -1;
  }
  *data = out;
  *size = static_cast<int>(length);
  return 0;
}
