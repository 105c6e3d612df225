// Soft sounds (handle type 4): sample blocks in memory, and players that
// stream PCM from a byte ring into one looping play buffer, refilled by the
// sound thread (or the message pump) through `UpdateAllSoftSoundPlayers`.
// Threads: the soft-sound lock (the type's handle lock) guards the player
// list, the rings and the buffers' write side; the sound thread takes it
// alone, never together with the sound lock.
// Platform: the play-buffer layer (XAudio2 voice or DirectSound buffer).
#include <string.h>

#include "RaRadaraLog.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {

const char LOG_SOFT_ALLOC[] = "ソフトサウンドのメモリの確保に失敗しました";
const char LOG_SOFT_BUFFER[] = "ソフトサウンドプレイヤーのサウンドバッファの作成に失敗しました";

enum { SAMPLE_LIMIT = 0x7FFFFFFF / 4 };

LockRecord* SoftSoundLock() { return &HandleManagers[HANDLETYPE_SOFTSOUND].lock; }
bool HasOutput() { return GetSoundOutputKind() != SOUND_OUTPUT_NONE; }

SoftSoundRecord* GetSoftSound(int handle) {
  if (!HandleManagers[HANDLETYPE_SOFTSOUND].initialized) return nullptr;
  return reinterpret_cast<SoftSoundRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SOFTSOUND));
}
SoftSoundRecord* GetSamples(int handle) {
  SoftSoundRecord* s = GetSoftSound(handle);
  return s != nullptr && !s->isPlayer ? s : nullptr;
}
SoftSoundRecord* GetPlayer(int handle) {
  SoftSoundRecord* s = GetSoftSound(handle);
  return s != nullptr && s->isPlayer ? s : nullptr;
}

bool MakeFormat(WAVEFORMATEX* f, int channels, int bits, int rate) {
  if (channels < 1 || channels > 2 || (bits != 8 && bits != 16) || rate < 1000 || rate > 192000) return false;
  FillPcmWaveFormat(f, channels, bits, rate);
  return true;
}

// Ring distance from `from` forward to `to` in a buffer of `size` bytes.
int Forward(int from, int to, int size) { return to >= from ? to - from : to + size - from; }

}  // namespace

int MakeSoftSound(int channels, int bits, int rate, int sampleCount) {
  WAVEFORMATEX format;
  if (!MakeFormat(&format, channels, bits, rate) || sampleCount <= 0 || sampleCount > SAMPLE_LIMIT) return -1;
  int handle = CreateHandle(HANDLETYPE_SOFTSOUND, -1);
  if (handle == -1) return -1;
  SoftSoundRecord* s = GetSoftSound(handle);
  s->isPlayer = 0;
  s->format = format;
  s->sampleCount = sampleCount;
  s->samples = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(sampleCount) * format.nBlockAlign));
  if (s->samples == nullptr) {
    LogPrintf(LOG_SOFT_ALLOC);
    DeleteHandle(handle);
    return -1;
  }
  // Silence: 128 for unsigned 8-bit, 0 for 16-bit.
  memset(s->samples, bits == 8 ? 128 : 0, static_cast<size_t>(sampleCount) * format.nBlockAlign);
  return handle;
}

int GetSoftSoundSampleCount(int handle) {
  SoftSoundRecord* s = GetSamples(handle);
  return s != nullptr ? s->sampleCount : -1;
}

int WriteSoftSoundSample(int handle, int index, int channel1, int channel2) {
  SoftSoundRecord* s = GetSamples(handle);
  if (s == nullptr || index < 0 || index >= s->sampleCount) return -1;
  unsigned char* at = s->samples + static_cast<size_t>(index) * s->format.nBlockAlign;
  int values[2] = {channel1, channel2};
  for (int c = 0; c < s->format.nChannels; c++) {
    if (s->format.wBitsPerSample == 8) {
      at[c] = static_cast<unsigned char>(values[c] < 0 ? 0 : (values[c] > 255 ? 255 : values[c]));
    } else {
      int v = values[c] < -32768 ? -32768 : (values[c] > 32767 ? 32767 : values[c]);
      int16_t sample = static_cast<int16_t>(v);
      memcpy(at + 2 * c, &sample, 2);
    }
  }
  return 0;
}

int ReadSoftSoundSample(int handle, int index, int* channel1, int* channel2) {
  SoftSoundRecord* s = GetSamples(handle);
  if (s == nullptr || index < 0 || index >= s->sampleCount) return -1;
  const unsigned char* at = s->samples + static_cast<size_t>(index) * s->format.nBlockAlign;
  int values[2] = {0, 0};
  for (int c = 0; c < s->format.nChannels; c++) {
    if (s->format.wBitsPerSample == 8) {
      values[c] = at[c];
    } else {
      int16_t sample;
      memcpy(&sample, at + 2 * c, 2);
      values[c] = sample;
    }
  }
  if (channel1) *channel1 = values[0];
  if (channel2) *channel2 = values[1];
  return 0;
}

int MakeSoftSoundPlayer(int channels, int bits, int rate) {
  WAVEFORMATEX format;
  if (!HasOutput() || !MakeFormat(&format, channels, bits, rate)) return -1;
  int handle = CreateHandle(HANDLETYPE_SOFTSOUND, -1);
  if (handle == -1) return -1;
  SoftSoundRecord* s = GetSoftSound(handle);
  s->isPlayer = 1;
  s->format = format;
  InitRingBuffer(&s->pcm);
  // One second of ring in the play buffer, an eighth of it kept as lead.
  s->bufferBytes = static_cast<int>(format.nAvgBytesPerSec);
  s->lead = s->bufferBytes / 8 / format.nBlockAlign * format.nBlockAlign;
  DSBUFFERDESC description;
  memset(&description, 0, sizeof(description));
  description.dwSize = sizeof(description);
  description.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN |
                        DSBCAPS_CTRLFREQUENCY | (SoundSystem.softwareBuffer ? DSBCAPS_LOCSOFTWARE : 0);
  description.dwBufferBytes = static_cast<DWORD>(s->bufferBytes);
  description.lpwfxFormat = &format;
  if (CreatePlayBuffer(&s->buffer, &description, nullptr) != 0) {
    LogPrintf(LOG_SOFT_BUFFER);
    DeleteHandle(handle);
    return -1;
  }
  void* r1;
  void* r2;
  DWORD n1, n2;
  if (LockPlayBuffer(&s->buffer, 0, static_cast<unsigned>(s->bufferBytes), &r1, &n1, &r2, &n2) == 0) {
    FillPlayBufferSilence(&s->buffer, r1, n1, r2, n2);
    UnlockPlayBuffer(&s->buffer, r1, n1, r2, n2);
  }
  s->endOffset = -1;
  s->lastCursor = 0;
  ENTER_LOCK(SoftSoundLock());
  HandleListAddFront(&SoundSystem.softPlayerHead, &s->node, handle, s);
  LeaveLock(SoftSoundLock());
  return handle;
}

int AddSoftSoundPlayerData(int player, int softSound) {
  SoftSoundRecord* p = GetPlayer(player);
  SoftSoundRecord* data = GetSamples(softSound);
  if (p == nullptr || data == nullptr || memcmp(&p->format, &data->format, 16) != 0) return -1;
  ENTER_LOCK(SoftSoundLock());
  int result = WriteRingBuffer(&p->pcm, data->samples, data->sampleCount * data->format.nBlockAlign);
  LeaveLock(SoftSoundLock());
  return result;
}

int StartSoftSoundPlayer(int player) {
  SoftSoundRecord* p = GetPlayer(player);
  if (p == nullptr) return -1;
  ENTER_LOCK(SoftSoundLock());
  int result = 0;
  if (!p->active) {
    p->active = 1;
    p->writeOffset = 0;
    p->lastCursor = 0;
    p->endOffset = -1;
    p->playedOut = 0;
    SetPlayBufferPosition(&p->buffer, 0);
    UpdateSoftSoundPlayer(p);
    result = PlayPlayBuffer(&p->buffer, 1);
  }
  LeaveLock(SoftSoundLock());
  return result;
}

int StopSoftSoundPlayer(int player) {
  SoftSoundRecord* p = GetPlayer(player);
  if (p == nullptr) return -1;
  ENTER_LOCK(SoftSoundLock());
  if (p->active) StopPlayBuffer(&p->buffer, 0);
  p->active = 0;
  p->paused = 0;
  LeaveLock(SoftSoundLock());
  return 0;
}

int IsSoftSoundPlayerPlayedOut(int player) {
  SoftSoundRecord* p = GetPlayer(player);
  if (p == nullptr) return -1;
  ENTER_LOCK(SoftSoundLock());
  int out = p->playedOut && p->pcm.dataSize == 0 ? 1 : 0;
  LeaveLock(SoftSoundLock());
  return out;
}

int UpdateSoftSoundPlayer(SoftSoundRecord* p) {
  if (!HasOutput()) return -1;
  if (!p->active) return 0;
  ENTER_LOCK(SoftSoundLock());
  int size = p->bufferBytes;
  int align = p->format.nBlockAlign;
  DWORD cursorWord = 0;
  GetPlayBufferPosition(&p->buffer, &cursorWord, nullptr);
  int cursor = static_cast<int>(cursorWord % static_cast<DWORD>(size));
  // 1. Has the play cursor passed where the real data ended?
  if (p->endOffset >= 0 && !p->playedOut) {
    if (Forward(p->lastCursor, cursor, size) >= Forward(p->lastCursor, p->endOffset, size)) {
      p->playedOut = 1;
    } else {
      p->lastCursor = cursor;
    }
  }
  // 2. Free space between the write offset and the cursor, less the lead.
  int distance = Forward(p->writeOffset, cursor, size);
  if (distance == 0) distance = size;  // nothing written yet
  int free = (distance - p->lead) / align * align;
  if (free <= 0) {
    LeaveLock(SoftSoundLock());
    return 0;
  }
  int real = p->pcm.dataSize / align * align;
  if (real > free) real = free;
  int silence = real == 0 ? free : 0;
  int count = real + silence;
  // 3. Lock and track where the real data ends.
  void* r1;
  void* r2;
  DWORD n1 = 0, n2 = 0;
  if (LockPlayBuffer(&p->buffer, static_cast<unsigned>(p->writeOffset), static_cast<unsigned>(count), &r1, &n1, &r2,
                     &n2) != 0) {
    LeaveLock(SoftSoundLock());
    return 0;
  }
  if (silence > 0 && p->endOffset < 0) {
    p->endOffset = p->writeOffset;
    p->lastCursor = cursor;
    p->playedOut = 0;
  } else if (real > 0 && (p->playedOut || p->endOffset >= 0)) {
    p->playedOut = 0;
    p->endOffset = -1;
  }
  // 4. Samples from the ring, then silence.
  unsigned char* regions[2] = {static_cast<unsigned char*>(r1), static_cast<unsigned char*>(r2)};
  int lengths[2] = {static_cast<int>(n1), static_cast<int>(n2)};
  int left = real;
  for (int i = 0; i < 2; i++) {
    if (regions[i] == nullptr || lengths[i] == 0) continue;
    int take = left < lengths[i] ? left : lengths[i];
    if (take > 0) ReadRingBuffer(&p->pcm, regions[i], take, 0);
    left -= take;
    if (take < lengths[i]) memset(regions[i] + take, p->format.wBitsPerSample == 8 ? 127 : 0, lengths[i] - take);
  }
  UnlockPlayBuffer(&p->buffer, r1, n1, r2, n2);
  p->writeOffset = (p->writeOffset + static_cast<int>(n1 + n2)) % size;
  LeaveLock(SoftSoundLock());
  return 0;
}

int UpdateAllSoftSoundPlayers() {
  if (!HasOutput()) return -1;
  ENTER_LOCK(SoftSoundLock());
  for (HandleListNode* node = SoundSystem.softPlayerHead.next; node && node->next; node = node->next) {
    UpdateSoftSoundPlayer(static_cast<SoftSoundRecord*>(node->owner));
  }
  LeaveLock(SoftSoundLock());
  return 0;
}

int PauseResumeAllSoftSoundPlayers(int pause) {
  if (!HasOutput()) return -1;
  ENTER_LOCK(SoftSoundLock());
  for (HandleListNode* node = SoundSystem.softPlayerHead.next; node && node->next; node = node->next) {
    SoftSoundRecord* p = static_cast<SoftSoundRecord*>(node->owner);
    if (!p->active) continue;
    if (pause) {
      if (p->paused) continue;
      DWORD status = 0;
      GetPlayBufferStatus(&p->buffer, &status);
      p->wasPlaying = (status & DSBSTATUS_PLAYING) ? 1 : 0;
      p->paused = 1;
      if (p->wasPlaying) StopPlayBuffer(&p->buffer, 0);
    } else {
      if (p->paused && p->wasPlaying) PlayPlayBuffer(&p->buffer, 1);
      p->paused = 0;
      p->wasPlaying = 0;
    }
  }
  LeaveLock(SoftSoundLock());
  return 0;
}

int ReleaseSoftSoundHandleRecord(HandleRecordHeader* record) {
  SoftSoundRecord* s = reinterpret_cast<SoftSoundRecord*>(record);
  if (s->isPlayer) {
    ENTER_LOCK(SoftSoundLock());
    ReleaseRingBuffer(&s->pcm);
    if (s->buffer.present) ReleasePlayBuffer(&s->buffer);
    if (s->node.next != nullptr || s->node.prev != nullptr) HandleListRemove(&s->node);
    s->active = 0;
    LeaveLock(SoftSoundLock());
  } else if (s->samples != nullptr) {
    MemFree(s->samples);
    s->samples = nullptr;
  }
  return 0;
}
