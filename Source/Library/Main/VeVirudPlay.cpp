// Sound handles: records and their play buffers, loading sound files (at
// once or as an asynchronous loading job), playing, stopping, querying, and
// the pause and resume of all sounds.
// Threads: public calls on the main thread; loading jobs on the loading
// workers; pause/resume and stream-list changes under the sound lock.
#include <string.h>

#include "DaDode.h"
#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {
const char LOG_STREAM_BUFFER_CREATE[] = "ストリーム風サウンドバッファの作成に失敗しました";
const char LOG_DS_BUFFER_CREATE[] = "DirectSoundBuffer の作成に失敗しました";
const char LOG_FILE_OPEN[] = "右記のファイルのオープンに失敗しました：%s";
const char LOG_FILE_ALLOC[] = "右記のファイルのロードに必要なメモリの確保に失敗しました：%s";
const char LOG_SOUND_FILE_LOAD_1[] = "右記の音声ファイルのロードに失敗しました_1：%s";
const char LOG_SOUND_FILE_LOAD_2[] = "右記の音声ファイルのロードに失敗しました_2：%s";
const char LOG_PCM_CONVERT[] = "音声ファイルのＰＣＭへの変換に失敗しました";
const char LOG_SOUND_FILE_ALLOC[] = "音声ファイルを格納するメモリ領域の確保に失敗しました";
const char LOG_REFCOUNT_ALLOC[] = "サウンドデータの参照数を保存するメモリ領域の確保に失敗しました";
const char LOG_TRANSFER_1[] = "サウンドデータの転送に失敗しました_1";
const char LOG_TRANSFER_2[] = "サウンドデータの転送に失敗しました_2";
}  // namespace

int IsASyncLoadEnabled();

namespace {
LockRecord* SoundLock() { return &HandleManagers[HANDLETYPE_SOUND].lock; }
int HasSoundOutput() { return GetSoundOutputKind() != SOUND_OUTPUT_NONE; }
}  // namespace

SoundRecord* GetSoundRecord(int handle) {
  if (!HandleManagers[HANDLETYPE_SOUND].initialized) return nullptr;
  HandleRecordHeader* record = GetHandleRecordOfType(handle, HANDLETYPE_SOUND);
  if (record == nullptr || record->asyncLoadCount != 0) return nullptr;
  return reinterpret_cast<SoundRecord*>(record);
}

// A handle being filled by its own loading job counts as valid there.
namespace {
SoundRecord* GetSoundRecordFor(int handle, int fromJob) {
  if (!fromJob) return GetSoundRecord(handle);
  if (!HandleManagers[HANDLETYPE_SOUND].initialized) return nullptr;
  return reinterpret_cast<SoundRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SOUND));
}
}  // namespace

int InitSoundHandleRecord(HandleRecordHeader* record) {
  SoundRecord* sound = reinterpret_cast<SoundRecord*>(record);
  sound->currentBuffer = 0;
  for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++) sound->volume[i] = 0;
  sound->pan = 0;
  sound->frequency = 0;
  sound->stream.sharedWith = -1;
  sound->stream.currentUser = -1;
  sound->stream.writeOffset = -800;
  GetReverbPresetParameters(&sound->reverb, 0);
  return 0;
}

int ReleaseSoundHandleRecord(HandleRecordHeader* record) {
  SoundRecord* sound = reinterpret_cast<SoundRecord*>(record);
  const SoundStorageCalls* calls = GetSoundStorageCalls(sound);
  calls->stopForRelease(sound);
  if (sound->onDeleteList) {
    HandleListRemove(&sound->deleteNode);
    sound->onDeleteList = 0;
  }
  RemoveFromPlaying3DList(sound);
  return calls->release(sound);
}

int CreateSoundHandle(int is3D) {
  int handle = CreateHandle(HANDLETYPE_SOUND, -1);
  if (handle == -1) return -1;
  SoundRecord* sound = reinterpret_cast<SoundRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SOUND));
  if (sound == nullptr) return -1;
  // 3-D sounds are played as plain sounds until 3-D output exists.
  sound->is3D = is3D;
  return handle;
}

namespace {
void FillDescription(DSBUFFERDESC* description, WAVEFORMATEX* format, unsigned int bytes, DWORD flags) {
  memset(description, 0, sizeof(*description));
  description->dwSize = sizeof(*description);
  description->dwFlags = flags | (SoundSystem.softwareBuffer ? DSBCAPS_LOCSOFTWARE : DSBCAPS_STATIC);
  description->dwBufferBytes = bytes;
  description->lpwfxFormat = format;
}
}  // namespace

int SetupSoundBuffers(const WAVEFORMATEX* formatIn, unsigned int byteCount, int storage, int bufferCount, int handle,
                      int fromJob, int sourceHandle) {
  SoundRecord* sound = GetSoundRecordFor(handle, fromJob);
  if (sound == nullptr) return -1;
  SoundRecord* source = nullptr;
  WAVEFORMATEX format;
  memcpy(&format, formatIn, 18);
  format.cbSize = 0;
  if (sourceHandle != -1) {
    source = GetSoundRecord(sourceHandle);
    if (source == nullptr || source->storage != SOUND_STORAGE_MEMORY) return -1;
    byteCount = source->pcmSize;
    memcpy(&format, &source->format, 18);
  }
  if (format.nBlockAlign == 0) return -1;
  DSBUFFERDESC description;
  if (storage == SOUND_STORAGE_STREAM) {
    unsigned int bytes = format.nAvgBytesPerSec & 0xFFFFFF;
    bytes = (bytes + format.nBlockAlign - 1) / format.nBlockAlign * format.nBlockAlign;
    FillDescription(&description, &format, bytes, 0x180E0);
    if (CreatePlayBuffer(&sound->buffers[0], &description, nullptr) != 0) {
      LogPrintf(LOG_STREAM_BUFFER_CREATE);
      return -1;
    }
    sound->bufferCount = 1;
  } else {
    int made = 0;
    for (int i = 0; i < bufferCount; i++) {
      SoundBufferRecord* from = source ? &source->buffers[0] : (i > 0 ? &sound->buffers[0] : nullptr);
      int result;
      if (from) {
        result = CreatePlayBuffer(&sound->buffers[i], nullptr, from);
      } else {
        FillDescription(&description, &format, byteCount, 0x80E0);
        result = CreatePlayBuffer(&sound->buffers[i], &description, nullptr);
        if (result != 0) {
          FillDescription(&description, &format, byteCount, 0xC0);
          result = CreatePlayBuffer(&sound->buffers[i], &description, nullptr);
        }
      }
      if (result != 0) {
        if (i == 0) {
          LogPrintf(LOG_DS_BUFFER_CREATE);
          return -1;
        }
        break;
      }
      made++;
    }
    sound->bufferCount = made;
  }
  if (sound->is3D) {
    for (int i = 0; i < sound->bufferCount; i++) InitPlayBuffer3D(&sound->buffers[i], nullptr);
  }
  sound->storage = storage;
  if (storage == SOUND_STORAGE_STREAM) {
    ENTER_LOCK(SoundLock());
    HandleListAddFront(&SoundSystem.streamHead, &sound->stream.node, handle, sound);
    LeaveLock(SoundLock());
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Loading.

void GetSoundLoadSettings(SoundLoadSettings* settings) { *settings = SoundSystem.loadSettings; }

int LoadSoundFile(const char* file, int bufferCount, int sharedStreamHandle) {
  return LoadSoundFileWithBuffers(file, bufferCount, sharedStreamHandle);
}

int LoadSoundFileWithBuffers(const char* file, int bufferCount, int sharedStreamHandle) {
  SoundLoadSettings settings = SoundSystem.loadSettings;
  return LoadSoundFileCore(&settings, file, bufferCount, sharedStreamHandle, IsASyncLoadEnabled(), 0);
}

namespace {
// What a loading job needs, copied whole into the job's parameter area.
struct LoadSoundJobParams {
  SoundLoadSettings settings;
  int handle;
  int bufferCount;
  int sharedStreamHandle;
  char path[FILE_PATH_SIZE];
};

int LoadSoundFileJob(ASyncJob* job) {
  LoadSoundJobParams params;
  memcpy(&params, job->params, sizeof(params));
  int result = LoadSoundIntoHandle(&params.settings, params.path, params.bufferCount, params.sharedStreamHandle,
                                   params.handle, 1);
  SubHandleAsyncCount(params.handle);
  if (result != 0) DeleteHandle(params.handle);
  return 0;
}
}  // namespace

int LoadSoundFileCore(const SoundLoadSettings* settings, const char* file, int bufferCount, int sharedStreamHandle,
                      int async, int fromJob) {
  if (!HasSoundOutput() || file == nullptr) return -1;
  int handle = CreateSoundHandle(settings->is3D);
  if (handle == -1) return -1;
  char fullPath[FILE_PATH_SIZE];
  ASyncJob* job;
  LoadSoundJobParams params;
  if (ConvertToFullPath(file, fullPath, sizeof(fullPath), nullptr) != 0) goto refuse;
  if (!async || fromJob) {
    if (LoadSoundIntoHandle(settings, fullPath, bufferCount, sharedStreamHandle, handle, fromJob) != 0) goto refuse;
    return handle;
  }
  job = AllocASyncJob(sizeof(LoadSoundJobParams));
  if (job == nullptr) goto refuse;
  memset(&params, 0, sizeof(params));
  params.settings = *settings;
  params.handle = handle;
  params.bufferCount = bufferCount;
  params.sharedStreamHandle = sharedStreamHandle;
  CopyString(params.path, fullPath);
  memcpy(job->params, &params, sizeof(params));
  job->function = LoadSoundFileJob;
  // A job that cannot be queued is freed there.
  if (AddASyncJobForHandle(job, handle) < 0) goto refuse;
  return handle;

refuse:
  DeleteHandle(handle);
  return -1;
}

int LoadWholeFile(const char* path, void** data, int* size) {
  StreamHandle stream = FileStreamOpen(path, 0, 1, 0);
  if (stream == 0) {
    LogPrintf(LOG_FILE_OPEN, path);
    return -1;
  }
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_END);
  int64_t length = FileStreamTell(stream);
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  void* block = length >= 0 && length < 0x7FFFFFFF ? MEM_ALLOC(static_cast<size_t>(length ? length : 1)) : nullptr;
  if (block == nullptr) {
    LogPrintf(LOG_FILE_ALLOC, path);
    FileStreamClose(stream);
    return -1;
  }
  size_t got = FileStreamRead(block, 1, static_cast<size_t>(length), stream);
  FileStreamClose(stream);
  *data = block;
  *size = static_cast<int>(got);
  return 0;
}

int LoadSoundIntoHandle(const SoundLoadSettings* settings, const char* fullPath, int bufferCount,
                        int sharedStreamHandle, int handle, int fromJob) {
  if (!HasSoundOutput()) return -1;
  if (bufferCount > SOUND_BUFFER_MAX) bufferCount = SOUND_BUFFER_MAX;
  if (bufferCount < 1) bufferCount = 1;
  if (settings->loadMethod != SOUND_LOAD_DECODE) {
    int sourceKind = settings->loadMethod == SOUND_LOAD_STREAM_FILE ? 1 : 2;
    if (AddStreamSoundFile(settings, fullPath, 0, handle, sourceKind, sharedStreamHandle, fromJob) != 0) return -1;
    PrepareStreamStart(handle, fromJob);
    return 0;
  }
  void* image = nullptr;
  int size = 0;
  if (LoadWholeFile(fullPath, &image, &size) != 0) {
    LogPrintf(LOG_SOUND_FILE_LOAD_1, fullPath);
    return -1;
  }
  int result = CreateMemorySoundData(settings, handle, image, size, bufferCount, sharedStreamHandle, fromJob);
  if (result != 0) LogPrintf(LOG_SOUND_FILE_LOAD_2, fullPath);
  MemFree(image);
  return result;
}

namespace {
// Decodes a whole sound image into PCM of whole frames (freed with MemFree).
// -1 when it cannot be decoded.
int DecodeWholeSound(const SoundLoadSettings* settings, const void* image, int imageSize, WAVEFORMATEX* format,
                     void** pcm, int* pcmSize) {
  int result = -1;
  int converting = 0;
  StreamData stream;
  SoundConversion conversion;
  MemoryStream* memory = CreateMemoryStream(image, static_cast<uint32_t>(imageSize));
  if (memory == nullptr) goto refuse;
  stream.functions = *GetMemoryStreamTable();
  stream.handle = reinterpret_cast<StreamHandle>(memory);
  if (BeginSoundConversion(&conversion, &stream, settings->disableMask, settings->oggBytesPerSample,
                           settings->oggVariant) != 0) {
    LogPrintf(LOG_PCM_CONVERT);
    goto refuse;
  }
  converting = 1;
  if (ConvertWholeSound(&conversion, format, pcm, pcmSize) != 0) {
    LogPrintf(LOG_SOUND_FILE_ALLOC);
    goto refuse;
  }
  *pcmSize -= *pcmSize % (format->nBlockAlign ? format->nBlockAlign : 1);
  if (*pcmSize <= 0 || format->nBlockAlign == 0) {
    MemFree(*pcm);
    *pcm = nullptr;
    LogPrintf(LOG_PCM_CONVERT);
    goto refuse;
  }
  result = 0;

refuse:
  if (converting) EndSoundConversion(&conversion);
  if (memory != nullptr) CloseMemoryStream(memory);
  return result;
}
}  // namespace

int CreateMemorySoundData(const SoundLoadSettings* settingsIn, int handle, const void* image, int imageSize,
                          int bufferCount, int sharedStreamHandle, int fromJob) {
  if (!HasSoundOutput() || bufferCount > SOUND_BUFFER_MAX) return -1;
  SoundLoadSettings settings = *settingsIn;
  if (settings.loadMethod == SOUND_LOAD_DECODE) {
    WAVEFORMATEX format;
    void* pcm = nullptr;
    int pcmSize = 0;
    if (DecodeWholeSound(&settings, image, imageSize, &format, &pcm, &pcmSize) != 0) return -1;
    int seconds = format.nAvgBytesPerSec ? pcmSize / static_cast<int>(format.nAvgBytesPerSec) : 0;
    if (seconds > SOUND_STREAM_SECONDS_LIMIT ||
        SetupSoundBuffers(&format, static_cast<unsigned int>(pcmSize), 0, bufferCount, handle, fromJob, -1) != 0) {
      MemFree(pcm);
      settings.loadMethod = SOUND_LOAD_STREAM_IMAGE;
    } else {
      SoundRecord* sound = GetSoundRecordFor(handle, fromJob);
      int* count = static_cast<int*>(MEM_ALLOC(sizeof(int)));
      if (count == nullptr || sound == nullptr) {
        LogPrintf(LOG_REFCOUNT_ALLOC);
        if (count) MemFree(count);
        MemFree(pcm);
        return -1;
      }
      memcpy(&sound->format, &format, 18);
      sound->format.cbSize = 0;
      sound->pcmSize = static_cast<unsigned int>(pcmSize);
      sound->pcm = pcm;
      sound->frequency = static_cast<int>(format.nSamplesPerSec);
      *count = 1;
      sound->pcmRefCount = count;
      for (int i = 0; i < sound->bufferCount; i++) {
        void* r1 = nullptr;
        void* r2 = nullptr;
        DWORD s1 = 0, s2 = 0;
        if (LockPlayBuffer(&sound->buffers[i], 0, sound->pcmSize, &r1, &s1, &r2, &s2) != 0) {
          LogPrintf(LOG_TRANSFER_1);
          return -1;
        }
        memcpy(r1, pcm, s1);
        if (r2) memcpy(r2, static_cast<unsigned char*>(pcm) + s1, s2);
        if (UnlockPlayBuffer(&sound->buffers[i], r1, s1, r2, s2) != 0) {
          LogPrintf(LOG_TRANSFER_2);
          return -1;
        }
        // Buffers sharing one wave data need it written once.
        if (sound->buffers[i].wave) break;
      }
      return 0;
    }
  }
  if (AddStreamSoundMemory(&settings, image, imageSize, 0, handle, 2, sharedStreamHandle, fromJob) != 0) return -1;
  PrepareStreamStart(handle, fromJob);
  return 0;
}

// ---------------------------------------------------------------------------
// Playing.

uint64_t SamplesToMilliseconds(uint64_t samples, uint32_t rate) {
  if (rate == 0) return 0;
  uint32_t a[2] = {static_cast<uint32_t>(samples), static_cast<uint32_t>(samples >> 32)};
  uint32_t b[2] = {1000, 0};
  uint32_t product[4];
  Multiply64To128(a, b, product);
  uint32_t divisor[2] = {rate, 0};
  uint32_t quotient[2];
  Divide128By64(product, divisor, quotient);
  return static_cast<uint64_t>(quotient[0]) | (static_cast<uint64_t>(quotient[1]) << 32);
}

namespace {
int BufferIsPlaying(SoundBufferRecord* b) {
  DWORD status = 0;
  if (GetPlayBufferStatus(b, &status) != 0) return 0;
  return (status & DSBSTATUS_PLAYING) != 0;
}
}  // namespace

void ApplyNextPlaySettings(SoundRecord* sound, SoundBufferRecord* b) {
  for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++) {
    int volume = sound->volume[i];
    if (sound->nextVolumeSet[i]) {
      volume = sound->nextVolume[i];
      sound->nextVolumeSet[i] = 0;
    }
    if (b->volume[i] != volume) SetPlayBufferChannelVolume(b, i, volume);
  }
  int pan = sound->pan;
  if (sound->nextPanSet) {
    pan = sound->nextPan;
    sound->nextPanSet = 0;
  }
  if (pan < -10000) pan = -10000;
  if (pan > 10000) pan = 10000;
  if (b->pan != pan) SetPlayBufferPan(b, pan);
  int frequency = sound->frequency;
  if (sound->nextFrequencySet) {
    frequency = sound->nextFrequency;
    sound->nextFrequencySet = 0;
  }
  if (frequency == static_cast<int>(b->format.nSamplesPerSec)) frequency = 0;
  if (b->frequency != (frequency == 0 ? -1 : frequency)) SetPlayBufferFrequency(b, frequency);
  if (b->emitter.is3D) UpdatePlayBuffer3D(b);
}

int PrepareNextPlayBuffer(SoundRecord* sound, int fromTop) {
  DWORD position = 0;
  GetPlayBufferPosition(&sound->buffers[sound->currentBuffer], &position, nullptr);
  sound->currentBuffer++;
  if (sound->currentBuffer >= sound->bufferCount) sound->currentBuffer = 0;
  SoundBufferRecord* b = &sound->buffers[sound->currentBuffer];
  if (!b->present) return -1;
  if (BufferIsPlaying(b)) {
    if (!fromTop) return 1;
    StopPlayBuffer(b, 0);
  }
  SetPlayBufferPosition(b, fromTop ? 0 : position);
  ApplyNextPlaySettings(sound, b);
  return 0;
}

namespace {
void WaitForSoundEnd(int handle) {
  if (PumpWindowMessages() != 0) return;
  while (IsSoundHandlePlaying(handle) == 1) {
    Sleep(1);
    if (PumpWindowMessages() != 0) break;
  }
}
}  // namespace

// Sounds in memory: each play takes the next of the sound's buffers.
namespace {
int PlayMemorySound(SoundRecord* sound, int playType, int fromTop) {
  if (sound->bufferCount <= 0) return -1;
  int prepared = PrepareNextPlayBuffer(sound, fromTop);
  if (prepared != 0) return prepared;
  if (PlayPlayBuffer(&sound->buffers[sound->currentBuffer], playType == 3) != 0) return -1;
  AddToPlaying3DList(sound, sound->header.handle);
  return 0;
}

int StopMemorySound(SoundRecord* sound) {
  for (int i = 0; i < sound->bufferCount; i++) {
    SoundBufferRecord* b = &sound->buffers[i];
    sound->paused[i] = 0;
    sound->wasPlaying[i] = 0;
    DWORD status = 0;
    if (GetPlayBufferStatus(b, &status) != 0) return -1;
    if (status & DSBSTATUS_PLAYING) StopPlayBuffer(b, 1);
  }
  return 0;
}

void StopMemorySoundForRelease(SoundRecord* sound) {
  if (!sound->buffers[0].present) return;
  for (int i = 0; i < SOUND_BUFFER_MAX; i++) {
    if (sound->buffers[i].present) StopPlayBuffer(&sound->buffers[i], 1);
  }
}

int IsMemorySoundPlaying(SoundRecord* sound) {
  for (int i = 0; i < sound->bufferCount; i++) {
    if (sound->paused[i]) {
      if (sound->wasPlaying[i]) return 1;
      continue;
    }
    if (BufferIsPlaying(&sound->buffers[i])) return 1;
  }
  return 0;
}

int GetMemorySoundPosition(SoundRecord* sound) {
  DWORD position = 0;
  if (GetPlayBufferPosition(&sound->buffers[sound->currentBuffer], &position, nullptr) != 0) return -1;
  uint64_t samples = position / (sound->format.nBlockAlign ? sound->format.nBlockAlign : 1);
  return static_cast<int>(SamplesToMilliseconds(samples, sound->format.nSamplesPerSec));
}

int GetMemorySoundTotalSamples(SoundRecord* sound) {
  return static_cast<int>(sound->pcmSize / (sound->format.nBlockAlign ? sound->format.nBlockAlign : 1));
}

int ReleaseMemorySound(SoundRecord* sound) {
  for (int i = 0; i < SOUND_BUFFER_MAX; i++) {
    if (sound->buffers[i].present) ReleasePlayBuffer(&sound->buffers[i]);
  }
  if (sound->pcmRefCount && --*sound->pcmRefCount == 0) {
    MemFree(sound->pcm);
    MemFree(sound->pcmRefCount);
  }
  sound->pcm = nullptr;
  sound->pcmRefCount = nullptr;
  return 0;
}
}  // namespace

const SoundStorageCalls MemorySoundStorage = {
    PlayMemorySound,      StopMemorySound,        StopMemorySoundForRelease,
    IsMemorySoundPlaying, GetMemorySoundPosition, GetMemorySoundTotalSamples,
    ReleaseMemorySound,
};

const SoundStorageCalls* GetSoundStorageCalls(const SoundRecord* sound) {
  return sound->storage == SOUND_STORAGE_STREAM ? &StreamSoundStorage : &MemorySoundStorage;
}

int PlaySoundHandle(int handle, int playType, int fromTop) {
  if (!HasSoundOutput()) return -1;
  if (!WinSys.active) WaitWhileInactive();
  SoundRecord* sound = GetSoundRecord(handle);
  if (sound == nullptr) return -1;
  int result = GetSoundStorageCalls(sound)->play(sound, playType, fromTop);
  if (result < 0) return -1;
  if (result == 0 && playType == 0) WaitForSoundEnd(handle);
  return 0;
}

int StopSoundHandle(int handle) {
  if (!HasSoundOutput()) return -1;
  SoundRecord* sound = GetSoundRecord(handle);
  if (sound == nullptr) return -1;
  return GetSoundStorageCalls(sound)->stop(sound);
}

int IsSoundHandlePlaying(int handle) {
  if (!HasSoundOutput()) return -1;
  SoundRecord* sound = GetSoundRecord(handle);
  if (sound == nullptr) return -1;
  return GetSoundStorageCalls(sound)->isPlaying(sound);
}

int GetSoundPlayPosition(int handle) {
  if (!HasSoundOutput()) return -1;
  SoundRecord* sound = GetSoundRecord(handle);
  if (sound == nullptr) return -1;
  return GetSoundStorageCalls(sound)->getPosition(sound);
}

int GetSoundTotalSamples(int handle) {
  if (!HasSoundOutput()) return -1;
  SoundRecord* sound = GetSoundRecord(handle);
  if (sound == nullptr) return -1;
  return GetSoundStorageCalls(sound)->getTotalSamples(sound);
}

int GetSoundTotalTime(int handle) {
  int samples = GetSoundTotalSamples(handle);
  if (samples < 0) return -1;
  SoundRecord* sound = GetSoundRecord(handle);
  return static_cast<int>(SamplesToMilliseconds(static_cast<uint64_t>(samples), sound->format.nSamplesPerSec));
}

int PauseResumeAllSoundHandles(int pause) {
  if (!SoundSystem.initialized || !HasSoundOutput()) return -1;
  HandleManager* manager = &HandleManagers[HANDLETYPE_SOUND];
  ENTER_LOCK(SoundLock());
  if (manager->count > 0) {
    for (int slot = manager->lowestSlot; slot <= manager->highestSlot; slot++) {
      SoundRecord* sound = reinterpret_cast<SoundRecord*>(manager->slots[slot]);
      if (sound == nullptr) continue;
      for (int i = 0; i < SOUND_BUFFER_MAX; i++) {
        SoundBufferRecord* b = &sound->buffers[i];
        if (!b->present || b->backend == nullptr) continue;
        if (pause) {
          if (sound->paused[i]) continue;
          DWORD status = 0;
          if (GetPlayBufferStatus(b, &status) != 0) continue;
          sound->paused[i] = 1;
          if (status & DSBSTATUS_PLAYING) {
            sound->wasPlaying[i] = 1;
            StopPlayBuffer(b, 1);
          } else {
            sound->wasPlaying[i] = 0;
          }
        } else {
          if (sound->paused[i] && sound->wasPlaying[i]) PlayPlayBuffer(b, b->loop);
          sound->paused[i] = 0;
        }
      }
    }
  }
  LeaveLock(SoundLock());
  return 0;
}
