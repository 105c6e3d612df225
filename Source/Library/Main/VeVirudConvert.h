// Sound converter: turns a sound file read through a stream table (a file or
// a memory block) into 16/8-bit PCM, block by block or whole. Formats: RIFF
// WAVE read directly (PCM, 32-bit float), RIFF WAVE through the Audio
// Compression Manager, Ogg Vorbis (DeVirERerOgg), MP3 through the Audio
// Compression Manager, and last MP3 through a DirectShow graph (DeVirERer).
#ifndef VEVIRUDCONVERT_H
#define VEVIRUDCONVERT_H

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
#include <stdint.h>

#include "DaDode.h"

// The caller's stream: the six stream functions and the stream they read.
struct StreamData {
  StreamFunctionTable functions;
  StreamHandle handle;
};

enum SoundConversionKind {
  SOUND_CONVERT_WAVE = 0,    // RIFF WAVE read directly
  SOUND_CONVERT_ACM = 1,     // WAVE or MP3 through ACM
  SOUND_CONVERT_OGG = 2,     // Ogg Vorbis
  SOUND_CONVERT_MEMORY = 3,  // PCM decoded into memory
};

// Disable-mask bits of BeginSoundConversion.
enum {
  SOUND_CONVERT_SKIP_WAVE = 1,
  SOUND_CONVERT_SKIP_ACM_WAVE = 2,
  SOUND_CONVERT_SKIP_OGG = 4,
  SOUND_CONVERT_SKIP_ACM_MP3 = 8,
  SOUND_CONVERT_SKIP_DSHOW_MP3 = 16,
};

enum { SOUND_CONVERT_AREA_SIZE = 1024, WAVE_FORMAT_COPY_SIZE = 1012 };

struct WaveConvertArea {
  unsigned char* floatBuffer;  // one second of source data, tag 3 only
  int floatBufferSize;
  unsigned char sourceFormat[WAVE_FORMAT_COPY_SIZE];  // the "fmt " chunk's data
};

struct AcmConvertArea {
  WAVEFORMATEX* sourceFormat;
  HACMSTREAM activeStream;
  HACMSTREAM spareStream;  // fresh stream for restarting after a backward seek
  unsigned char* sourceData;
  int sourceSize;
  int sourcePosition;
  int sampleCount;  // counted MP3 samples, else -1
};

struct MemoryConvertArea {
  unsigned char* data;  // decoded PCM, owned
  int capacity;         // bytes allocated for it
  int size;             // bytes decoded
  int readPosition;
};

// An open record must stay where it is: the Ogg layer keeps the address of
// its `stream` member.
struct SoundConversion {
  int valid;
  int endFlag;
  int kind;
  StreamData stream;
  int formatChunkPosition;
  int formatChunkSize;
  int dataStart;
  int dataSize;
  WAVEFORMATEX outputFormat;
  union {
    unsigned char raw[SOUND_CONVERT_AREA_SIZE];
    WaveConvertArea wave;
    AcmConvertArea acm;
    MemoryConvertArea memory;
  } area;
  unsigned char* blockBuffer;
  int blockSize;
  int bytesLeft;
  int readOffset;
  int outputPosition;
  int oggBytesPerSample;
  int oggVariant;
};

int BeginSoundConversion(SoundConversion* conversion, const StreamData* stream, int disableMask, int oggBytesPerSample,
                         int oggVariant);
int ConvertSoundBlock(SoundConversion* conversion, void* destination, int byteCount);
int SeekSoundConversion(SoundConversion* conversion, int sample);
int GetConvertedSoundSize(SoundConversion* conversion);
void GetConvertedWaveFormat(SoundConversion* conversion, WAVEFORMATEX* format);
// The buffer is the caller's, freed with MemFree.
int ConvertWholeSound(SoundConversion* conversion, WAVEFORMATEX* format, void** buffer, int* byteCount);
int EndSoundConversion(SoundConversion* conversion);

// Limits of a format the play buffers take: channels, samples per second.
enum { SOUND_FORMAT_MAX_CHANNELS = 8, SOUND_FORMAT_MIN_RATE = 1000, SOUND_FORMAT_MAX_RATE = 200000 };

// True for PCM the play buffers can take: format tag 1, 1-8 channels, 8, 16,
// 24 or 32 bits, block align = channels x bits / 8, a rate within the limits
// and bytes per second = block align x rate.
bool IsPlayablePcmFormat(const WAVEFORMATEX* format);

// True when a source format may be handed to a platform converter: channels,
// rate, block align and bytes per second within bounds, and for the formats
// whose frames the converters size from the header (PCM, float, u-law,
// A-law, IMA and MS ADPCM) those fields consistent. `size` is the bytes of
// the format that exist (the extra bytes counted by cbSize must be there).
bool IsConvertibleSourceFormat(const WAVEFORMATEX* format, int size);

// True when the bytes hold MPEG audio: within the first 64 KB after an ID3v2
// tag, a valid frame header followed by another of the same version, layer
// and rate where the frame ends (or the frame reaching the end, a 128-byte
// tag aside).
bool LooksLikeMpegAudio(const unsigned char* bytes, int64_t size);

// Fills a plain PCM format: channels, bits per sample, rate; block align and
// bytes per second follow from them, cbSize 0.
void FillPcmWaveFormat(WAVEFORMATEX* format, int channels, int bits, int rate);

// Audio Compression Manager, loaded by name.
struct AcmLibraryState {
  int loaded;
  HMODULE module;
  MMRESULT(WINAPI* acmFormatSuggestFunc)(HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, DWORD, DWORD);
  MMRESULT(WINAPI* acmStreamOpenFunc)
  (LPHACMSTREAM, HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, LPWAVEFILTER, DWORD_PTR, DWORD_PTR, DWORD);
  MMRESULT(WINAPI* acmStreamCloseFunc)(HACMSTREAM, DWORD);
  MMRESULT(WINAPI* acmMetricsFunc)(HACMOBJ, UINT, LPVOID);
  MMRESULT(WINAPI* acmStreamPrepareHeaderFunc)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT(WINAPI* acmStreamConvertFunc)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT(WINAPI* acmStreamUnprepareHeaderFunc)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
  MMRESULT(WINAPI* acmStreamSizeFunc)(HACMSTREAM, DWORD, LPDWORD, DWORD);
};
extern AcmLibraryState AcmLibrary;

int LoadAcmLibrary();
int FreeAcmLibrary();

int OpenWaveConversion(SoundConversion* conversion);
int OpenAcmWaveConversion(SoundConversion* conversion);
int OpenAcmMp3Conversion(SoundConversion* conversion);
int ConvertWaveBlock(SoundConversion* conversion);
int ConvertAcmBlock(SoundConversion* conversion);
int SeekWaveConversion(SoundConversion* conversion, int sample);
int SeekAcmConversion(SoundConversion* conversion, int sample);
void ReleaseAcmConversion(SoundConversion* conversion);

// MP3 frame header.
struct Mp3FrameHeader {
  uint8_t layer;    // 0 Layer I, 1 Layer II, 2 Layer III
  uint8_t version;  // 0 MPEG-1, 1 MPEG-2
  uint8_t bitrateIndex;
  uint8_t sampleRateIndex;
  uint8_t padding;
  uint8_t channels;
  uint32_t sampleRate;
  uint32_t bitrate;      // kbit/s
  uint32_t frameLength;  // bytes, header included
  uint32_t samplesPerFrame;
};

// 0; -2 without sync; -1 for a reserved layer, bitrate index 15 or 0 (free
// format) or sample-rate index 3.
int ParseMp3FrameHeader(const unsigned char* bytes, Mp3FrameHeader* header);

// Float sample to 16-bit: times 32768, truncated, clamped.
int16_t FloatSampleTo16(float value);

#endif  // VEVIRUDCONVERT_H
