// Stream sounds: a one-second ring play buffer refilled from up to three
// converter sources (repeat counts, loop points, silence after the end),
// optionally shared between stream sounds of one format.
// Threads: every change of stream state happens under the sound lock; the
// sound thread (or the message pump) refills every 10 ms.
#include <string.h>

#include "RaRadaraLog.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {
const char LOG_NOT_STREAM_SOUND[] = "ストリーム風サウンドではないサウンドデータが渡されました in AddStreamSound";
const char LOG_ADD_WHILE_PLAYING[] = "既に再生中のストリームサウンドデータにデータを追加しようとしました";
const char LOG_STREAM_TABLE_FULL[] = "ストリーム風サウンドの制御データ領域がいっぱいです";
const char LOG_SOUND_OPEN[] = "音声データのオープンに失敗しました";
const char LOG_SOUND_CONVERT[] = "音声データの変換に失敗しました";
const char LOG_SOUND_READ[] = "音声データの読み込みに失敗しました";
const char LOG_FORMAT_MISMATCH[] = "フォーマットの違う音声データは同時に使うことは出来ません";
const char LOG_WAV_LOAD[] = "右記のＷＡＶファイルのロードに失敗しました：%s ";
const char LOG_WAV_SETUP[] = "右記のＷＡＶファイルのセットアップに失敗しました：%s ";
const char LOG_WAV_IMAGE_HANDLE[] = "ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました ";
const char LOG_WAV_IMAGE_SETUP[] = "ＷＡＶファイルのストリームイメージのセットアップに失敗しました ";

LockRecord* SoundLock() { return &HandleManagers[HANDLETYPE_SOUND].lock; }

SoundRecord* StreamRecordFor(int handle, int fromJob) {
  if (!HandleManagers[HANDLETYPE_SOUND].initialized) return nullptr;
  HandleRecordHeader* record = GetHandleRecordOfType(handle, HANDLETYPE_SOUND);
  if (record == nullptr || (!fromJob && record->asyncLoadCount != 0)) return nullptr;
  return reinterpret_cast<SoundRecord*>(record);
}

int WholeBlocks(int bytes, int align) { return align > 0 ? bytes / align * align : bytes; }

int StreamRingSize(const WAVEFORMATEX* format) {
  int align = format->nBlockAlign ? format->nBlockAlign : 1;
  int bytes = static_cast<int>(format->nAvgBytesPerSec & 0xFFFFFF);
  return (bytes + align - 1) / align * align;
}

// The sound whose buffer a stream plays through.
SoundRecord* BufferOwner(SoundRecord* sound) {
  if (sound->stream.sharedWith == -1) return sound;
  return StreamRecordFor(sound->stream.sharedWith, 1);
}

// Reads a whole stream into a new block.
void* ReadWholeStream(const StreamData* stream, int* size) {
  stream->functions.Seek(stream->handle, 0, FILE_STREAM_SEEK_END);
  int64_t length = stream->functions.Tell(stream->handle);
  stream->functions.Seek(stream->handle, 0, FILE_STREAM_SEEK_SET);
  if (length <= 0 || length >= 0x7FFFFFFF) return nullptr;
  void* block = MEM_ALLOC(static_cast<size_t>(length));
  if (block == nullptr) return nullptr;
  *size = static_cast<int>(stream->functions.Read(block, 1, static_cast<size_t>(length), stream->handle));
  return block;
}

// A RIFF WAVE image of PCM: 44-byte header and the data.
void* BuildPcmWaveImage(const WAVEFORMATEX* format, const void* pcm, int size, int* imageSize) {
  unsigned char* image = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(size) + 44));
  if (image == nullptr) return nullptr;
  auto put32 = [&](int at, uint32_t v) { memcpy(image + at, &v, 4); };
  auto put16 = [&](int at, uint16_t v) { memcpy(image + at, &v, 2); };
  memcpy(image, "RIFF", 4);
  put32(4, static_cast<uint32_t>(size + 36));
  memcpy(image + 8, "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, WAVE_FORMAT_PCM);
  put16(22, format->nChannels);
  put32(24, format->nSamplesPerSec);
  put32(28, format->nAvgBytesPerSec);
  put16(32, format->nBlockAlign);
  put16(34, format->wBitsPerSample);
  memcpy(image + 36, "data", 4);
  put32(40, static_cast<uint32_t>(size));
  memcpy(image + 44, pcm, size);
  *imageSize = size + 44;
  return image;
}

void ReleaseSource(StreamSoundSource* source) {
  if (source->conversion.valid) EndSoundConversion(&source->conversion);
  if (source->memoryStream) CloseMemoryStream(source->memoryStream);
  source->memoryStream = nullptr;
  if (source->image) MemFree(source->image);
  source->image = nullptr;
}

// Opens a converter on a copy of the bytes in memory.
int OpenImageSource(const SoundLoadSettings* settings, StreamSoundSource* source, void* image, int size) {
  source->image = image;
  source->imageSize = size;
  source->memoryStream = CreateMemoryStream(image, static_cast<uint32_t>(size));
  if (source->memoryStream == nullptr) return -1;
  source->stream.functions = *GetMemoryStreamTable();
  source->stream.handle = reinterpret_cast<StreamHandle>(source->memoryStream);
  return BeginSoundConversion(&source->conversion, &source->stream, settings->disableMask, settings->oggBytesPerSample,
                              settings->oggVariant);
}
}  // namespace

int AddStreamSound(const SoundLoadSettings* settings, const StreamData* stream, int repeatCount, int handle,
                   int sourceKind, int* keepStream, int sharedHandle, int fromJob) {
  if (keepStream) *keepStream = 0;
  SoundRecord* sound = StreamRecordFor(handle, fromJob);
  if (sound == nullptr) return -1;
  StreamSoundState* s = &sound->stream;
  if (s->sourceCount > 0) {
    if (sound->storage != SOUND_STORAGE_STREAM) {
      LogPrintf(LOG_NOT_STREAM_SOUND);
      return -1;
    }
    if (IsSoundHandlePlaying(handle) == 1) {
      LogPrintf(LOG_ADD_WHILE_PLAYING);
      return -1;
    }
    if (s->sourceCount >= STREAM_SOURCE_MAX) {
      LogPrintf(LOG_STREAM_TABLE_FULL);
      return -1;
    }
  }
  StreamSoundSource* source = &s->sources[s->sourceCount];
  memset(source, 0, sizeof(*source));
  source->kind = sourceKind;
  source->loopStart = -1;
  source->loopEnd = -1;
  stream->functions.Seek(stream->handle, 0, FILE_STREAM_SEEK_SET);

  if (sourceKind == 0) {
    int size = 0;
    void* file = ReadWholeStream(stream, &size);
    if (file == nullptr) {
      LogPrintf(LOG_SOUND_OPEN);
      return -1;
    }
    MemoryStream* memory = CreateMemoryStream(file, static_cast<uint32_t>(size));
    StreamData data = {*GetMemoryStreamTable(), reinterpret_cast<StreamHandle>(memory)};
    SoundConversion whole;
    void* pcm = nullptr;
    int pcmSize = 0;
    WAVEFORMATEX format;
    int ok = memory && BeginSoundConversion(&whole, &data, settings->disableMask, settings->oggBytesPerSample,
                                            settings->oggVariant) == 0;
    if (ok) {
      ok = ConvertWholeSound(&whole, &format, &pcm, &pcmSize) == 0;
      EndSoundConversion(&whole);
    }
    if (memory) CloseMemoryStream(memory);
    MemFree(file);
    if (!ok) {
      LogPrintf(LOG_SOUND_CONVERT);
      return -1;
    }
    int imageSize = 0;
    void* image = BuildPcmWaveImage(&format, pcm, pcmSize, &imageSize);
    MemFree(pcm);
    if (image == nullptr || OpenImageSource(settings, source, image, imageSize) != 0) {
      if (image && source->image == nullptr) MemFree(image);
      ReleaseSource(source);
      LogPrintf(LOG_SOUND_CONVERT);
      return -1;
    }
  } else if (sourceKind == 1) {
    source->stream = *stream;
    if (BeginSoundConversion(&source->conversion, &source->stream, settings->disableMask, settings->oggBytesPerSample,
                             settings->oggVariant) != 0) {
      LogPrintf(LOG_SOUND_READ);
      return -1;
    }
    if (keepStream) *keepStream = 1;
  } else {
    int size = 0;
    void* image = ReadWholeStream(stream, &size);
    if (image == nullptr || OpenImageSource(settings, source, image, size) != 0) {
      if (image && source->image == nullptr) MemFree(image);
      ReleaseSource(source);
      LogPrintf(LOG_SOUND_READ);
      return -1;
    }
  }

  WAVEFORMATEX format;
  GetConvertedWaveFormat(&source->conversion, &format);
  if (s->sourceCount > 0) {
    if (memcmp(&format, &sound->format, 18) != 0) {
      ReleaseSource(source);
      LogPrintf(LOG_FORMAT_MISMATCH);
      return -1;
    }
  } else {
    memcpy(&sound->format, &format, 18);
    sound->frequency = static_cast<int>(format.nSamplesPerSec);
    SoundRecord* shared = sharedHandle != -1 ? StreamRecordFor(sharedHandle, 0) : nullptr;
    if (shared && shared->storage == SOUND_STORAGE_STREAM && shared->stream.sharedWith == -1 &&
        shared->bufferCount > 0 && memcmp(&shared->format, &format, 18) == 0) {
      sound->storage = SOUND_STORAGE_STREAM;
      sound->bufferCount = 1;
      ENTER_LOCK(SoundLock());
      HandleListAddFront(&SoundSystem.streamHead, &s->node, handle, sound);
      s->sharedWith = sharedHandle;
      shared->stream.shareCount++;
      LeaveLock(SoundLock());
    } else {
      if (SetupSoundBuffers(&format, 0, 1, 1, handle, fromJob, -1) != 0) {
        ReleaseSource(source);
        return -1;
      }
      s->sharedWith = -1;
    }
  }
  source->repeatCount = repeatCount;
  s->sourceCount++;
  int total = 0;
  int align = sound->format.nBlockAlign ? sound->format.nBlockAlign : 1;
  for (int i = 0; i < s->sourceCount; i++) total += GetConvertedSoundSize(&s->sources[i].conversion) / align;
  s->totalSamples = total;
  return 0;
}

int AddStreamSoundFile(const SoundLoadSettings* settings, const char* path, int repeatCount, int handle, int sourceKind,
                       int sharedHandle, int fromJob) {
  StreamHandle file = FileStreamOpen(path, 0, 1, 0);
  if (file == 0) {
    LogPrintf(LOG_WAV_LOAD, path);
    return -1;
  }
  StreamData stream = {*GetFileStreamTable(), file};
  int keep = 0;
  if (AddStreamSound(settings, &stream, repeatCount, handle, sourceKind, &keep, sharedHandle, fromJob) != 0) {
    FileStreamClose(file);
    LogPrintf(LOG_WAV_SETUP, path);
    return -1;
  }
  if (keep) {
    SoundRecord* sound = StreamRecordFor(handle, fromJob);
    sound->stream.sources[sound->stream.sourceCount - 1].closeWithSound = 1;
  } else {
    FileStreamClose(file);
  }
  return 0;
}

int AddStreamSoundMemory(const SoundLoadSettings* settings, const void* image, int size, int repeatCount, int handle,
                         int sourceKind, int sharedHandle, int fromJob) {
  if (sourceKind == 3) sourceKind = 2;
  MemoryStream* memory = CreateMemoryStream(image, static_cast<uint32_t>(size));
  if (memory == nullptr) {
    LogPrintf(LOG_WAV_IMAGE_HANDLE);
    return -1;
  }
  StreamData stream = {*GetMemoryStreamTable(), reinterpret_cast<StreamHandle>(memory)};
  int keep = 0;
  if (AddStreamSound(settings, &stream, repeatCount, handle, sourceKind, &keep, sharedHandle, fromJob) != 0) {
    CloseMemoryStream(memory);
    LogPrintf(LOG_WAV_IMAGE_SETUP);
    return -1;
  }
  if (keep) {
    SoundRecord* sound = StreamRecordFor(handle, fromJob);
    sound->stream.sources[sound->stream.sourceCount - 1].closeWithSound = 1;
  } else {
    CloseMemoryStream(memory);
  }
  return 0;
}

int SetStreamSoundLoopSamples(int handle, int loopStart, int loopEnd) {
  SoundRecord* sound = StreamRecordFor(handle, 0);
  if (sound == nullptr || sound->storage != SOUND_STORAGE_STREAM || sound->stream.sourceCount == 0) return -1;
  StreamSoundSource* source = &sound->stream.sources[sound->stream.sourceCount - 1];
  source->loopStart = loopStart;
  source->loopEnd = loopEnd;
  return 0;
}

// ---------------------------------------------------------------------------
// Refill.

namespace {
int InRing(int value, int start, int end, int ring) {
  if (ring <= 0) return 0;
  int span = ((end - start) % ring + ring) % ring;
  int offset = ((value - start) % ring + ring) % ring;
  return offset < span;
}
}  // namespace

int ComputeStreamRefillBytes(int playing, int writeOffset, int safeStart, int playCursor, int ringSize,
                             int bytesPerSecond, int blockAlign) {
  if (!playing) return writeOffset == -800 ? WholeBlocks(bytesPerSecond * 192 / 256, blockAlign) : 0;
  int amount = WholeBlocks(bytesPerSecond / 8, blockAlign);
  if (!InRing(playCursor, safeStart, writeOffset, ringSize)) return -1;
  int distance = ((writeOffset - playCursor) % ringSize + ringSize) % ringSize;
  int distance512 = static_cast<int>(static_cast<int64_t>(distance) * 512 / bytesPerSecond);
  if (distance512 < 192)
    amount = WholeBlocks(static_cast<int>(static_cast<int64_t>(192 - distance512) * bytesPerSecond / 512), blockAlign);
  return amount;
}

namespace {
void UpdatePlayedBytes(SoundRecord* sound, SoundBufferRecord* b, int ring) {
  StreamSoundState* s = &sound->stream;
  DWORD play = 0;
  if (!b->present || GetPlayBufferPosition(b, &play, nullptr) != 0) return;
  int cursor = static_cast<int>(play);
  if (s->lastPlayCursor >= 0 && ring > 0) s->playedBytes += ((cursor - s->lastPlayCursor) % ring + ring) % ring;
  s->lastPlayCursor = cursor;
}

void ResetStreamToStart(StreamSoundState* s) {
  s->currentSource = 0;
  s->takenBytes = 0;
  s->playedBytes = 0;
  s->prepared = 0;
  s->ended = 0;
  for (int i = 0; i < s->sourceCount; i++) s->sources[i].playCount = 0;
}

// Fills one locked region from the sources; returns the bytes of data and
// silence written; sets the ended state when the data runs out.
int FillFromSources(SoundRecord* sound, unsigned char* out, int size, int* silenceBudget, int* endAt) {
  StreamSoundState* s = &sound->stream;
  *endAt = -1;
  int align = sound->format.nBlockAlign ? sound->format.nBlockAlign : 1;
  int written = 0;
  int idle = 0;
  while (size > 0) {
    if (s->ended) {
      int n = size < *silenceBudget ? size : *silenceBudget;
      if (n <= 0) break;
      memset(out, sound->format.wBitsPerSample == 8 ? 0x7F : 0, n);
      *silenceBudget -= n;
      out += n;
      size -= n;
      written += n;
      continue;
    }
    StreamSoundSource* source = &s->sources[s->currentSource];
    int want = size;
    if (source->loopEnd >= 0) {
      int limit = source->loopEnd * align - static_cast<int>(s->takenBytes);
      if (limit < want) want = limit > 0 ? limit : 0;
    }
    int n = want > 0 ? ConvertSoundBlock(&source->conversion, out, want) : 0;
    if (n > 0) {
      out += n;
      size -= n;
      written += n;
      s->takenBytes += n;
      idle = 0;
      continue;
    }
    // The source gave nothing more: repeat, next source, start over or end.
    if (++idle > 2 * STREAM_SOURCE_MAX + 2) {
      s->ended = 1;
      *endAt = written;
      continue;
    }
    if (source->repeatCount == 255) {
      int start = source->loopStart >= 0 ? source->loopStart : 0;
      SeekSoundConversion(&source->conversion, start);
      s->takenBytes = static_cast<unsigned int>(start * align);
      continue;
    }
    source->playCount++;
    if (source->playCount <= source->repeatCount) {
      SeekSoundConversion(&source->conversion, 0);
      s->takenBytes = 0;
      continue;
    }
    source->playCount = 0;
    s->currentSource++;
    s->takenBytes = 0;
    if (s->currentSource >= s->sourceCount) {
      s->currentSource = 0;
      if (s->playType != 3) {
        s->ended = 1;
        *endAt = written;
      }
    }
    SeekSoundConversion(&s->sources[s->currentSource].conversion, 0);
  }
  return written;
}
}  // namespace

int RefillStreamSound(int handle, int fromJob) {
  SoundRecord* sound = StreamRecordFor(handle, fromJob);
  if (sound == nullptr) return -1;
  ENTER_LOCK(SoundLock());
  StreamSoundState* s = &sound->stream;
  SoundRecord* owner = BufferOwner(sound);
  if (sound->storage != SOUND_STORAGE_STREAM || owner == nullptr || !owner->buffers[0].present || !s->prepared ||
      (owner != sound && owner->stream.currentUser != handle)) {
    LeaveLock(SoundLock());
    return 0;
  }
  SoundBufferRecord* b = &owner->buffers[0];
  int ring = StreamRingSize(&sound->format);
  int bps = static_cast<int>(sound->format.nAvgBytesPerSec);
  int align = sound->format.nBlockAlign ? sound->format.nBlockAlign : 1;
  DWORD status = 0;
  GetPlayBufferStatus(b, &status);
  int playing = (status & DSBSTATUS_PLAYING) != 0;
  if (playing) UpdatePlayedBytes(sound, b, ring);
  DWORD cursor = 0;
  GetPlayBufferPosition(b, &cursor, nullptr);
  int P = static_cast<int>(cursor);

  if (s->ended && playing && s->endStart >= 0 && s->endStart != s->writeOffset &&
      InRing(P, s->endStart, s->writeOffset, ring)) {
    StopPlayBuffer(b, 1);
    sound->paused[0] = 0;
    sound->wasPlaying[0] = 0;
    ResetStreamToStart(s);
    LeaveLock(SoundLock());
    return 0;
  }

  int amount = ComputeStreamRefillBytes(playing, s->writeOffset, s->safeStart, P, ring, bps, align);
  if (amount <= 0) {
    LeaveLock(SoundLock());
    return amount < 0 ? -1 : 0;
  }
  int first = s->writeOffset == -800;
  int at = first ? 0 : s->writeOffset;
  void* r1 = nullptr;
  void* r2 = nullptr;
  DWORD s1 = 0, s2 = 0;
  if (LockPlayBuffer(b, static_cast<unsigned int>(at), static_cast<unsigned int>(amount), &r1, &s1, &r2, &s2) != 0) {
    LeaveLock(SoundLock());
    return -1;
  }
  int silence = WholeBlocks(bps / 8, align);
  int endAt = -1;
  int written = FillFromSources(sound, static_cast<unsigned char*>(r1), static_cast<int>(s1), &silence, &endAt);
  if (endAt >= 0) s->endStart = (at + endAt) % ring;
  if (written == static_cast<int>(s1) && r2) {
    int more = FillFromSources(sound, static_cast<unsigned char*>(r2), static_cast<int>(s2), &silence, &endAt);
    if (endAt >= 0) s->endStart = (at + written + endAt) % ring;
    written += more;
  }
  UnlockPlayBuffer(b, r1, s1, r2, s2);
  if (first) {
    s->writeOffset = written % ring;
    s->safeStart = 0;
  } else {
    s->writeOffset = (at + written) % ring;
    int back = (bps * 3 / 4 + align - 1) / align * align;
    s->safeStart = ((s->writeOffset - back) % ring + ring) % ring;
  }
  if (s->ended) s->endStop = s->writeOffset;
  LeaveLock(SoundLock());
  return 0;
}

int PrepareStreamStart(int handle, int fromJob) {
  SoundRecord* sound = StreamRecordFor(handle, fromJob);
  if (sound == nullptr || sound->storage != SOUND_STORAGE_STREAM) return -1;
  SoundRecord* owner = BufferOwner(sound);
  if (owner == nullptr || !owner->buffers[0].present) return -1;
  StreamSoundState* s = &sound->stream;
  DWORD status = 0;
  GetPlayBufferStatus(&owner->buffers[0], &status);
  if ((status & DSBSTATUS_PLAYING) || s->prepared) return 0;
  ENTER_LOCK(SoundLock());
  SetPlayBufferPosition(&owner->buffers[0], 0);
  int align = sound->format.nBlockAlign ? sound->format.nBlockAlign : 1;
  if (s->sourceCount > 0) {
    StreamSoundSource* source = &s->sources[s->currentSource];
    // Force the seek even when the converter stands within a few bytes.
    SoundConversion* c = &source->conversion;
    int sample = static_cast<int>(s->takenBytes) / align;
    if (sample == 0 && c->outputPosition != 0) {
      SeekSoundConversion(c, 0);
    } else {
      SeekSoundConversion(c, sample);
    }
    if (sample == 0) c->endFlag = 0;
  }
  s->writeOffset = -800;
  s->safeStart = -1;
  s->lastPlayCursor = 0;
  s->playedBytes = 0;
  s->ended = 0;
  s->prepared = 1;
  LeaveLock(SoundLock());
  return RefillStreamSound(handle, fromJob);
}

// ---------------------------------------------------------------------------
// Play, stop, query: the calls of stream sounds (`StreamSoundStorage`).

namespace {
int StopStreamSound(SoundRecord* sound);

int PlayStreamSound(SoundRecord* sound, int playType, int fromTop) {
  SoundRecord* owner = BufferOwner(sound);
  if (owner == nullptr || !owner->buffers[0].present) return -1;
  int handle = sound->header.handle;
  ENTER_LOCK(SoundLock());
  StreamSoundState* s = &sound->stream;
  if (owner != sound && owner->stream.currentUser != handle) {
    SoundRecord* user = StreamRecordFor(owner->stream.currentUser, 1);
    if (user && user != sound) StopStreamSound(user);
    owner->stream.currentUser = handle;
    s->prepared = 0;
  } else if (owner == sound) {
    owner->stream.currentUser = handle;
  }
  SoundBufferRecord* b = &owner->buffers[0];
  DWORD status = 0;
  GetPlayBufferStatus(b, &status);
  if (!fromTop && (status & DSBSTATUS_PLAYING)) {
    LeaveLock(SoundLock());
    return 0;
  }
  StopStreamSound(sound);
  owner->stream.currentUser = handle;
  int loopChanged = (s->playType == 3) != (playType == 3);
  if ((loopChanged && s->ended) || fromTop) ResetStreamToStart(s);
  s->playType = playType;
  PrepareStreamStart(handle, 0);
  ApplyNextPlaySettings(sound, b);
  PlayPlayBuffer(b, 1);
  AddToPlaying3DList(sound, handle);
  LeaveLock(SoundLock());
  return 0;
}

int StopStreamSound(SoundRecord* sound) {
  SoundRecord* owner = BufferOwner(sound);
  if (owner == nullptr || !owner->buffers[0].present) return 0;
  ENTER_LOCK(SoundLock());
  SoundBufferRecord* b = &owner->buffers[0];
  int ring = StreamRingSize(&sound->format);
  DWORD status = 0;
  GetPlayBufferStatus(b, &status);
  if (owner->stream.currentUser == sound->header.handle) {
    if (status & DSBSTATUS_PLAYING) UpdatePlayedBytes(sound, b, ring);
    if (owner != sound) owner->stream.currentUser = -1;
    if (status & DSBSTATUS_PLAYING) StopPlayBuffer(b, 1);
    owner->paused[0] = 0;
    owner->wasPlaying[0] = 0;
  }
  LeaveLock(SoundLock());
  return 0;
}

int IsStreamSoundPlaying(SoundRecord* sound) {
  SoundRecord* owner = BufferOwner(sound);
  if (owner == nullptr || !owner->buffers[0].present) return 0;
  if (owner->stream.currentUser != sound->header.handle) return 0;
  if (owner->paused[0]) return owner->wasPlaying[0] ? 1 : 0;
  DWORD status = 0;
  GetPlayBufferStatus(&owner->buffers[0], &status);
  return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

int GetStreamSoundPosition(SoundRecord* sound) {
  SoundRecord* owner = BufferOwner(sound);
  if (owner == nullptr || !owner->buffers[0].present) return -1;
  ENTER_LOCK(SoundLock());
  DWORD status = 0;
  GetPlayBufferStatus(&owner->buffers[0], &status);
  if ((status & DSBSTATUS_PLAYING) && owner->stream.currentUser == sound->header.handle)
    UpdatePlayedBytes(sound, &owner->buffers[0], StreamRingSize(&sound->format));
  int align = sound->format.nBlockAlign ? sound->format.nBlockAlign : 1;
  uint64_t samples = sound->stream.playedBytes / static_cast<unsigned int>(align);
  uint64_t total = static_cast<uint64_t>(sound->stream.totalSamples);
  if (samples > total) samples = total;
  LeaveLock(SoundLock());
  return static_cast<int>(SamplesToMilliseconds(samples, sound->format.nSamplesPerSec));
}

int ReleaseStreamSoundRecord(SoundRecord* sound) {
  StreamSoundState* s = &sound->stream;
  ENTER_LOCK(SoundLock());
  // Others still play through this buffer: kept until the last of them goes.
  if (s->sharedWith == -1 && s->shareCount > 0) {
    s->deleteWhenUnshared = 1;
    LeaveLock(SoundLock());
    return 1;
  }
  if (s->sharedWith != -1) {
    SoundRecord* owner = StreamRecordFor(s->sharedWith, 1);
    if (owner) {
      owner->stream.shareCount--;
      if (owner->stream.currentUser == sound->header.handle) owner->stream.currentUser = -1;
      if (owner->stream.shareCount <= 0 && owner->stream.deleteWhenUnshared && owner != sound) {
        LeaveLock(SoundLock());
        DeleteHandle(owner->header.handle);
        ENTER_LOCK(SoundLock());
      }
    }
  }
  if (s->node.next) HandleListRemove(&s->node);
  for (int i = 0; i < s->sourceCount; i++) {
    StreamSoundSource* source = &s->sources[i];
    if (source->conversion.valid) EndSoundConversion(&source->conversion);
    if (source->closeWithSound && source->stream.functions.Close && source->memoryStream == nullptr)
      source->stream.functions.Close(source->stream.handle);
    if (source->memoryStream) CloseMemoryStream(source->memoryStream);
    source->memoryStream = nullptr;
    if (source->image) MemFree(source->image);
    source->image = nullptr;
  }
  s->sourceCount = 0;
  if (s->sharedWith == -1 && sound->buffers[0].present) ReleasePlayBuffer(&sound->buffers[0]);
  LeaveLock(SoundLock());
  return 0;
}

void StopStreamSoundForRelease(SoundRecord* sound) { StopStreamSound(sound); }
int GetStreamSoundTotalSamples(SoundRecord* sound) { return sound->stream.totalSamples; }
}  // namespace

const SoundStorageCalls StreamSoundStorage = {
    PlayStreamSound,          StopStreamSound,        StopStreamSoundForRelease,
    IsStreamSoundPlaying,     GetStreamSoundPosition, GetStreamSoundTotalSamples,
    ReleaseStreamSoundRecord,
};
