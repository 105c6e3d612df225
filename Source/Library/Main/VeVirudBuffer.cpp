// Play buffers of sound handles: one XAudio2 source voice fed by the voice
// callback from the buffer's wave data, or one DirectSound secondary buffer;
// volume, pan and frequency turned into the output's controls. Each output
// is a table of buffer operations (`PlayBufferBackend`), chosen when the
// output starts; a buffer keeps the table it was made with.
// Threads: the voice callback runs on XAudio2's thread and touches only its
// buffer's positions, queue, playing flag and voice, under the buffer's voice
// lock, which a position change takes too; everything else runs under the
// sound lock or on the loading thread that owns a new handle.
#include <math.h>
#include <new>
#include <string.h>

#include "RaRadaraLog.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {
// Volumes and pans count in hundredths of a decibel over this range (the
// DirectSound scale); a gain of ten is this many hundredths.
enum { LEVEL_RANGE = 10000 };
const float HUNDREDTHS_PER_DECADE = 2000.0f;
const float SILENT_GAIN = 0.00001f;  // 3-D volumes at or below it are silent

// Wave data: 16-byte aligned, with room for the alignment of each copy.
enum { WAVE_ALIGN = 16, WAVE_SLACK = 32, WAVE_STEREO_SLACK = 64 };

// Each voice chunk holds at most this fraction of a second.
enum { VOICE_CHUNKS_PER_SECOND = 60 };
const float VOICE_MAX_FREQUENCY_RATIO = 2.0f;

// The value of silence in 8-bit data as the buffers are filled with it.
enum { SILENCE_8BIT = 0x7F };

// Block align of the data the buffer's positions count in (before any
// widening of a mono sound to a stereo voice).
unsigned int DataBlockAlign(const SoundBufferRecord* b) {
  unsigned int align = b->format.nBlockAlign;
  if (b->wave && b->wave->stereo) align /= 2;
  return align ? align : 1;
}

// ---------------------------------------------------------------------------
// Wave data.

SoundWaveData* CreateWaveData(unsigned int size, int withStereo) {
  SoundWaveData* wave = static_cast<SoundWaveData*>(MEM_ALLOC_ZEROED(sizeof(SoundWaveData)));
  if (wave == nullptr) return nullptr;
  // A stereo copy of mono data takes twice the data's size beside it.
  size_t total = withStereo ? static_cast<size_t>(size) * 3 + WAVE_STEREO_SLACK
                            : static_cast<size_t>(size) + WAVE_SLACK;
  wave->allocation = MEM_ALLOC_ZEROED(total);
  if (wave->allocation == nullptr) {
    MemFree(wave);
    return nullptr;
  }
  const uintptr_t mask = WAVE_ALIGN - 1;
  uintptr_t base = (reinterpret_cast<uintptr_t>(wave->allocation) + mask) & ~mask;
  wave->data = reinterpret_cast<unsigned char*>(base);
  if (withStereo) wave->stereo = reinterpret_cast<unsigned char*>((base + size + mask) & ~mask);
  wave->size = size;
  wave->refCount = 1;
  return wave;
}

void ReleaseWaveData(SoundWaveData* wave) {
  if (wave == nullptr) return;
  if (InterlockedDecrement(&wave->refCount) == 0) {
    MemFree(wave->allocation);
    MemFree(wave);
  }
}
}  // namespace

// ---------------------------------------------------------------------------
// Voice callback.

namespace RiDov {

// At most this many chunks wait on a voice, so that the played position
// follows the output closely and a sound's end is heard whole.
enum { VOICE_QUEUE_LIMIT = 4 };

void STDMETHODCALLTYPE SOUNDBUFFER_CALLBACK::OnVoiceProcessingPassStart(UINT32 bytesRequired) {
  SoundBufferRecord* b = buffer;
  if (b == nullptr || b->voice == nullptr || b->wave == nullptr) return;
  unsigned int chunk = b->format.nSamplesPerSec / VOICE_CHUNKS_PER_SECOND;
  if (chunk == 0) chunk = 1;
  const unsigned char* data = b->wave->stereo ? b->wave->stereo : b->wave->data;
  unsigned int frameSize = b->format.wBitsPerSample * b->voiceChannels / 8;
  if (frameSize == 0) return;
  ENTER_LOCK(&b->voiceLock);
  unsigned int position = b->submitPosition;
  unsigned int submitted = 0;
  while (submitted < bytesRequired && b->queued < VOICE_QUEUE_LIMIT) {
    if (position >= b->length) {
      if (b->loop && b->length > 0) {
        position = 0;
      } else {
        // Nothing queued to end the sound (an empty sound): stop here.
        if (b->queued == 0) {
          b->voice->Stop(0, XAUDIO2_COMMIT_NOW);
          b->playing = 0;
        }
        break;
      }
    }
    unsigned int frames = b->length - position;
    if (frames > chunk) frames = chunk;
    if (frames * frameSize > bytesRequired - submitted) frames = (bytesRequired - submitted) / frameSize;
    if (frames == 0) break;
    LONG sequence = ++b->submitSequence;
    SoundBufferRecord::QueuedChunk* slot = &b->chunks[sequence & (SOUND_QUEUED_CHUNK_SLOTS - 1)];
    slot->sequence = 0;
    slot->generation = b->generation;
    slot->endFrame = position + frames;
    slot->endsSound = !b->loop && position + frames >= b->length;
    slot->sequence = sequence;
    XAUDIO2_BUFFER xb;
    memset(&xb, 0, sizeof(xb));
    xb.AudioBytes = frames * frameSize;
    xb.pAudioData = data + static_cast<size_t>(position) * frameSize;
    xb.pContext = reinterpret_cast<void*>(static_cast<uintptr_t>(sequence));
    InterlockedIncrement(&b->queued);
    if (FAILED(b->voice->SubmitSourceBuffer(&xb, nullptr))) {
      InterlockedDecrement(&b->queued);
      break;
    }
    position += frames;
    submitted += frames * frameSize;
  }
  b->submitPosition = position;
  LeaveLock(&b->voiceLock);
}

void STDMETHODCALLTYPE SOUNDBUFFER_CALLBACK::OnBufferEnd(void* context) {
  SoundBufferRecord* b = buffer;
  if (b == nullptr) return;
  LONG sequence = static_cast<LONG>(reinterpret_cast<uintptr_t>(context));
  ENTER_LOCK(&b->voiceLock);
  SoundBufferRecord::QueuedChunk* slot = &b->chunks[sequence & (SOUND_QUEUED_CHUNK_SLOTS - 1)];
  // A chunk flushed by an earlier position change is already forgotten.
  if (slot->sequence == sequence && slot->generation == b->generation) {
    InterlockedDecrement(&b->queued);
    b->playPosition = slot->endFrame;
    if (slot->endsSound) {
      b->voice->Stop(0, XAUDIO2_COMMIT_NOW);
      b->playing = 0;
    }
  }
  LeaveLock(&b->voiceLock);
}

}  // namespace RiDov

// ---------------------------------------------------------------------------
// Volume arithmetic.

void ComputeXAudio2ChannelGains(const int* volumes, int pan, int channels, float* gains) {
  for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++) gains[i] = powf(10.0f, volumes[i] / HUNDREDTHS_PER_DECADE);
  if (channels <= 2) {
    if (pan < 0) gains[1] *= powf(10.0f, pan / HUNDREDTHS_PER_DECADE);
    if (pan > 0) gains[0] *= powf(10.0f, -pan / HUNDREDTHS_PER_DECADE);
  }
}

namespace {
int ClampInt(int v, int low, int high) { return v < low ? low : (v > high ? high : v); }
}  // namespace

void ComputeDirectSoundVolumePan(int leftVolume, int rightVolume, int pan, int* volume, int* dsPan) {
  const int full = LEVEL_RANGE;
  int leftFactor = full, rightFactor = full;
  if (pan < 0) rightFactor = full + pan;
  if (pan > 0) leftFactor = full - pan;
  leftVolume = ClampInt(leftVolume, DSBVOLUME_MIN, DSBVOLUME_MAX);
  rightVolume = ClampInt(rightVolume, DSBVOLUME_MIN, DSBVOLUME_MAX);
  int l = (leftVolume + full) * leftFactor / full;
  int r = (rightVolume + full) * rightFactor / full;
  if (l > r) {
    *volume = l - full;
    *dsPan = full * r / l - full;
  } else if (l < r) {
    *volume = r - full;
    *dsPan = full - full * l / r;
  } else {
    *volume = l - full;
    *dsPan = 0;
  }
}

// The buffer's volumes and pan with its 3-D volume (in hundredths of a
// decibel) and 3-D pan folded in.
namespace {
void FoldIn3D(const SoundBufferRecord* b, int* volumes, int* pan) {
  memcpy(volumes, b->volume, sizeof(b->volume));
  *pan = b->pan;
  if (!b->emitter.is3D) return;
  float v = b->emitter.volume;
  int level = v <= SILENT_GAIN ? DSBVOLUME_MIN : static_cast<int>(HUNDREDTHS_PER_DECADE * log10f(v));
  for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++)
    volumes[i] = ClampInt(volumes[i] + level, DSBVOLUME_MIN, DSBVOLUME_MAX);
  *pan = ClampInt(*pan + static_cast<int>(b->emitter.pan * static_cast<float>(LEVEL_RANGE)), DSBPAN_LEFT, DSBPAN_RIGHT);
}

int ApplyVolumes(SoundBufferRecord* b) {
  int volumes[SOUND_CHANNEL_VOLUME_COUNT], folded = 0;
  FoldIn3D(b, volumes, &folded);
  return b->backend->applyVolumes(b, volumes, folded);
}

// PCM a play buffer can be made for: its channels, sample width and block
// align consistent and within what the platform's mixers take.
bool IsBufferFormat(const WAVEFORMATEX* f) {
  const int bits = f->wBitsPerSample;
  if (f->wFormatTag != WAVE_FORMAT_PCM || f->nChannels == 0 || f->nChannels > SOUND_FORMAT_MAX_CHANNELS) return false;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (f->nBlockAlign != f->nChannels * bits / 8) return false;
  return f->nSamplesPerSec >= 1 && f->nSamplesPerSec <= SOUND_FORMAT_MAX_RATE;
}

// A buffer made and still holding its output's object.
bool IsLive(const SoundBufferRecord* b) { return b->present && b->backend != nullptr; }

// ---------------------------------------------------------------------------
// XAudio2 play buffers: a source voice fed from the wave data by the voice
// callback; positions are kept by the buffer itself.

HRESULT CreateSourceVoice28(SoundBufferRecord* b, const WAVEFORMATEX* format) {
  return SoundSystem.xaudio28->CreateSourceVoice(&b->voice, format, 0, VOICE_MAX_FREQUENCY_RATIO,
                                                 reinterpret_cast<IXAudio2VoiceCallback*>(b->callback), nullptr,
                                                 nullptr);
}

HRESULT CreateSourceVoice27(SoundBufferRecord* b, const WAVEFORMATEX* format) {
  return SoundSystem.xaudio27->CreateSourceVoice(&b->voice, format, 0, VOICE_MAX_FREQUENCY_RATIO, b->callback, nullptr,
                                                 nullptr);
}

HRESULT CreateSubmixVoice28(IXAudio2SubmixVoice** submix, UINT32 channels, const XAUDIO2_EFFECT_CHAIN* chain) {
  return SoundSystem.xaudio28->CreateSubmixVoice(submix, channels, SoundSystem.masterSampleRate, 0, 0, nullptr, chain);
}

HRESULT CreateSubmixVoice27(IXAudio2SubmixVoice** submix, UINT32 channels, const XAUDIO2_EFFECT_CHAIN* chain) {
  return SoundSystem.xaudio27->CreateSubmixVoice(submix, channels, SoundSystem.masterSampleRate, 0, 0, nullptr, chain);
}

int CreateVoiceBuffer(SoundBufferRecord* b, WAVEFORMATEX* format, unsigned int byteCount, const DSBUFFERDESC*,
                      SoundBufferRecord* source) {
  int widen = 0;
  if (source) {
    widen = source->wave && source->wave->stereo;
  } else if (format->nChannels == 1) {
    widen = 1;
    format->nChannels = 2;
    format->nBlockAlign = static_cast<WORD>(2 * format->wBitsPerSample / 8);
    format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
  }
  if (source) {
    b->wave = source->wave;
    InterlockedIncrement(&b->wave->refCount);
  } else {
    b->wave = CreateWaveData(byteCount, widen);
    if (b->wave == nullptr) goto refuse;
  }
  b->callback = new (std::nothrow) RiDov::SOUNDBUFFER_CALLBACK();
  if (b->callback == nullptr) goto refuse;
  b->callback->buffer = b;
  if (!b->voiceLockMade) {
    InitLock(&b->voiceLock);
    b->voiceLockMade = 1;
  }
  b->queued = 0;
  if (FAILED(b->backend->createSourceVoice(b, format)) || b->voice == nullptr) goto refuse;
  b->voiceChannels = format->nChannels;
  return 0;

refuse:
  b->voice = nullptr;
  if (b->callback != nullptr) delete b->callback;
  b->callback = nullptr;
  ReleaseWaveData(b->wave);
  b->wave = nullptr;
  return -1;
}

void ReleaseVoiceBuffer(SoundBufferRecord* b) {
  if (b->voice) b->voice->DestroyVoice();
  b->voice = nullptr;
  ReleaseReverbSubmix(b);  // after the source voice that sends to it
  if (b->voiceLockMade) {
    DeleteLock(&b->voiceLock);
    b->voiceLockMade = 0;
  }
  if (b->callback) delete b->callback;
  b->callback = nullptr;
}

int PlayVoiceBuffer(SoundBufferRecord* b) {
  b->playing = 1;
  if (FAILED(b->voice->Start(0, XAUDIO2_COMMIT_NOW))) {
    b->playing = 0;
    return -1;
  }
  if (b->submix != nullptr) {
    b->submix->EnableEffect(0, XAUDIO2_COMMIT_NOW);
    b->reverbState = 1;
  }
  return 0;
}

void StopVoiceBuffer(SoundBufferRecord* b, int withReverb) {
  b->voice->Stop(0, XAUDIO2_COMMIT_NOW);
  if (withReverb && b->submix != nullptr) b->submix->DisableEffect(0, XAUDIO2_COMMIT_NOW);
}

int GetVoiceBufferStatus(SoundBufferRecord* b, DWORD* status) {
  *status = b->playing ? 1 : 0;
  return 0;
}

int LockVoiceBuffer(SoundBufferRecord* b, unsigned int offset, unsigned int count, void** region1, DWORD* size1,
                    void** region2, DWORD* size2) {
  unsigned int align = DataBlockAlign(b);
  unsigned int size = b->wave->size / align * align;
  offset = offset / align * align;
  count = count / align * align;
  if (offset >= size && size > 0) offset %= size;
  if (count > size) count = size;
  *region1 = b->wave->data + offset;
  if (offset + count > size) {
    *size1 = size - offset;
    *region2 = b->wave->data;
    *size2 = count - *size1;
  } else {
    *size1 = count;
    *region2 = nullptr;
    *size2 = 0;
  }
  return 0;
}

// Copies a written mono region into the stereo copy as left-right pairs.
void WidenRegion(SoundBufferRecord* b, void* region, DWORD size) {
  if (region == nullptr || size == 0) return;
  size_t offset = static_cast<unsigned char*>(region) - b->wave->data;
  if (b->format.wBitsPerSample == 16) {
    const int16_t* in = static_cast<const int16_t*>(region);
    int16_t* out = reinterpret_cast<int16_t*>(b->wave->stereo + offset * 2);
    for (DWORD i = 0; i < size / 2; i++) {
      out[i * 2] = in[i];
      out[i * 2 + 1] = in[i];
    }
  } else {
    const unsigned char* in = static_cast<const unsigned char*>(region);
    unsigned char* out = b->wave->stereo + offset * 2;
    for (DWORD i = 0; i < size; i++) {
      out[i * 2] = in[i];
      out[i * 2 + 1] = in[i];
    }
  }
}

int UnlockVoiceBuffer(SoundBufferRecord* b, void* region1, DWORD size1, void* region2, DWORD size2) {
  if (b->wave->stereo) {
    WidenRegion(b, region1, size1);
    WidenRegion(b, region2, size2);
  }
  return 0;
}

int GetVoiceBufferPosition(SoundBufferRecord* b, DWORD* play, DWORD* write) {
  DWORD position = b->playPosition * DataBlockAlign(b);
  if (play) *play = position;
  if (write) *write = position;
  return 0;
}

int SetVoiceBufferPosition(SoundBufferRecord* b, unsigned int byteOffset) {
  unsigned int frame = byteOffset / DataBlockAlign(b);
  if (frame > b->length) frame = b->length;
  // Chunks queued so far end under the old generation and are ignored.
  ENTER_LOCK(&b->voiceLock);
  InterlockedIncrement(&b->generation);
  b->queued = 0;
  b->playPosition = frame;
  b->submitPosition = frame;
  LeaveLock(&b->voiceLock);
  b->voice->FlushSourceBuffers();
  return 0;
}

int SetVoiceBufferFrequency(SoundBufferRecord* b, int hz) {
  float ratio = hz == 0 ? 1.0f : static_cast<float>(hz) / b->format.nSamplesPerSec;
  return SUCCEEDED(b->voice->SetFrequencyRatio(ratio, XAUDIO2_COMMIT_NOW)) ? 0 : -1;
}

int ApplyVoiceBufferVolumes(SoundBufferRecord* b, const int* volumes, int pan) {
  int channels = b->format.nChannels > 8 ? 8 : b->format.nChannels;
  float gains[SOUND_CHANNEL_VOLUME_COUNT];
  ComputeXAudio2ChannelGains(volumes, pan, channels, gains);
  return SUCCEEDED(b->voice->SetChannelVolumes(b->voiceChannels, gains, XAUDIO2_COMMIT_NOW)) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// DirectSound play buffers: one secondary buffer, which keeps its own data
// and positions.

int CreateDirectSoundBuffer(SoundBufferRecord* b, WAVEFORMATEX* format, unsigned int, const DSBUFFERDESC* description,
                            SoundBufferRecord* source) {
  HRESULT hr;
  if (source) {
    hr = SoundSystem.directSound->DuplicateSoundBuffer(source->dsBuffer, &b->dsBuffer);
  } else {
    hr = SoundSystem.directSound->CreateSoundBuffer(description, &b->dsBuffer, nullptr);
  }
  if (FAILED(hr) || b->dsBuffer == nullptr) {
    b->dsBuffer = nullptr;
    return -1;
  }
  b->voiceChannels = format->nChannels;
  return 0;
}

void ReleaseDirectSoundBuffer(SoundBufferRecord* b) {
  if (b->dsBuffer) b->dsBuffer->Release();
  b->dsBuffer = nullptr;
}

int PlayDirectSoundBuffer(SoundBufferRecord* b) {
  return SUCCEEDED(b->dsBuffer->Play(0, 0, b->loop ? DSBPLAY_LOOPING : 0)) ? 0 : -1;
}

void StopDirectSoundBuffer(SoundBufferRecord* b, int) { b->dsBuffer->Stop(); }

int GetDirectSoundBufferStatus(SoundBufferRecord* b, DWORD* status) {
  return SUCCEEDED(b->dsBuffer->GetStatus(status)) ? 0 : -1;
}

int LockDirectSoundBuffer(SoundBufferRecord* b, unsigned int offset, unsigned int count, void** region1, DWORD* size1,
                          void** region2, DWORD* size2) {
  return SUCCEEDED(b->dsBuffer->Lock(offset, count, region1, size1, region2, size2, 0)) ? 0 : -1;
}

int UnlockDirectSoundBuffer(SoundBufferRecord* b, void* region1, DWORD size1, void* region2, DWORD size2) {
  return SUCCEEDED(b->dsBuffer->Unlock(region1, size1, region2, size2)) ? 0 : -1;
}

int GetDirectSoundBufferPosition(SoundBufferRecord* b, DWORD* play, DWORD* write) {
  return SUCCEEDED(b->dsBuffer->GetCurrentPosition(play, write)) ? 0 : -1;
}

int SetDirectSoundBufferPosition(SoundBufferRecord* b, unsigned int byteOffset) {
  return SUCCEEDED(b->dsBuffer->SetCurrentPosition(byteOffset)) ? 0 : -1;
}

int SetDirectSoundBufferFrequency(SoundBufferRecord* b, int hz) {
  return SUCCEEDED(b->dsBuffer->SetFrequency(hz == 0 ? DSBFREQUENCY_ORIGINAL : static_cast<DWORD>(hz))) ? 0 : -1;
}

// DirectSound has one volume and one pan: more than two channels take the
// first channel's volume and the pan as they are.
int ApplyDirectSoundBufferVolumes(SoundBufferRecord* b, const int* volumes, int pan) {
  if (b->format.nChannels > 2) {
    b->dsBuffer->SetVolume(ClampInt(volumes[0], DSBVOLUME_MIN, DSBVOLUME_MAX));
    b->dsBuffer->SetPan(pan);
    return 0;
  }
  int volume = 0, dsPan = 0;
  ComputeDirectSoundVolumePan(volumes[0], volumes[1], pan, &volume, &dsPan);
  b->dsBuffer->SetPan(dsPan);
  b->dsBuffer->SetVolume(volume);
  return 0;
}
}  // namespace

const PlayBufferBackend XAudio28PlayBackend = {
    CreateVoiceBuffer,      ReleaseVoiceBuffer,      PlayVoiceBuffer,         StopVoiceBuffer,
    GetVoiceBufferStatus,   LockVoiceBuffer,         UnlockVoiceBuffer,       GetVoiceBufferPosition,
    SetVoiceBufferPosition, SetVoiceBufferFrequency, ApplyVoiceBufferVolumes, CreateSourceVoice28,
    CreateSubmixVoice28,
};

const PlayBufferBackend XAudio27PlayBackend = {
    CreateVoiceBuffer,      ReleaseVoiceBuffer,      PlayVoiceBuffer,         StopVoiceBuffer,
    GetVoiceBufferStatus,   LockVoiceBuffer,         UnlockVoiceBuffer,       GetVoiceBufferPosition,
    SetVoiceBufferPosition, SetVoiceBufferFrequency, ApplyVoiceBufferVolumes, CreateSourceVoice27,
    CreateSubmixVoice27,
};

const PlayBufferBackend DirectSoundPlayBackend = {
    CreateDirectSoundBuffer,
    ReleaseDirectSoundBuffer,
    PlayDirectSoundBuffer,
    StopDirectSoundBuffer,
    GetDirectSoundBufferStatus,
    LockDirectSoundBuffer,
    UnlockDirectSoundBuffer,
    GetDirectSoundBufferPosition,
    SetDirectSoundBufferPosition,
    SetDirectSoundBufferFrequency,
    ApplyDirectSoundBufferVolumes,
    nullptr,
    nullptr,
};

// ---------------------------------------------------------------------------
// Buffer operations: the state every output shares, then the buffer's backend.

int CreatePlayBuffer(SoundBufferRecord* b, const DSBUFFERDESC* description, SoundBufferRecord* source) {
  if (b->present) return -1;
  b->backend = nullptr;
  b->dsBuffer = nullptr;
  b->voice = nullptr;
  b->callback = nullptr;
  b->wave = nullptr;
  b->reverbState = 0;
  b->submix = nullptr;
  b->reverbEffect = nullptr;
  const PlayBufferBackend* backend = SoundSystem.playBackend;
  if (backend == nullptr) return -1;
  WAVEFORMATEX format;
  memcpy(&format, source ? &source->format : description->lpwfxFormat, 18);
  format.cbSize = 0;
  if (!IsBufferFormat(&format)) return -1;
  unsigned int byteCount = source ? source->wave ? source->wave->size : source->length * source->format.nBlockAlign
                                  : description->dwBufferBytes;
  b->backend = backend;
  if (backend->create(b, &format, byteCount, description, source) != 0) {
    b->backend = nullptr;
    return -1;
  }

  b->playing = 0;
  b->playPosition = 0;
  b->submitPosition = 0;
  b->loop = 0;
  memcpy(&b->format, &format, sizeof(format));
  b->present = 1;
  if (source) {
    b->length = source->length;
    b->pan = source->pan;
    b->frequency = source->frequency;
    for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++) b->volume[i] = source->volume[i];
    ApplyVolumes(b);
    if (b->frequency != -1) SetPlayBufferFrequency(b, b->frequency);
  } else {
    b->pan = 0;
    for (int i = 0; i < SOUND_CHANNEL_VOLUME_COUNT; i++) b->volume[i] = 0;
    b->frequency = -1;
    b->length = byteCount / DataBlockAlign(b);
  }
  return 0;
}

int ReleasePlayBuffer(SoundBufferRecord* b) {
  if (!b->present) return -1;
  memset(&b->emitter, 0, sizeof(b->emitter));
  if (b->backend != nullptr) b->backend->release(b);
  b->backend = nullptr;
  ReleaseWaveData(b->wave);
  b->wave = nullptr;
  b->present = 0;
  return 0;
}

int PlayPlayBuffer(SoundBufferRecord* b, int loop) {
  if (!IsLive(b)) return -1;
  b->loop = loop;
  return b->backend->play(b);
}

int StopPlayBuffer(SoundBufferRecord* b, int withReverb) {
  if (!IsLive(b)) return -1;
  b->backend->stop(b, withReverb);
  b->playing = 0;
  return 0;
}

int GetPlayBufferStatus(SoundBufferRecord* b, DWORD* status) {
  if (!IsLive(b)) return -1;
  return b->backend->getStatus(b, status);
}

int LockPlayBuffer(SoundBufferRecord* b, unsigned int offset, unsigned int count, void** region1, DWORD* size1,
                   void** region2, DWORD* size2) {
  if (!IsLive(b)) return -1;
  return b->backend->lock(b, offset, count, region1, size1, region2, size2);
}

int UnlockPlayBuffer(SoundBufferRecord* b, void* region1, DWORD size1, void* region2, DWORD size2) {
  if (!IsLive(b)) return -1;
  return b->backend->unlock(b, region1, size1, region2, size2);
}

int GetPlayBufferPosition(SoundBufferRecord* b, DWORD* play, DWORD* write) {
  if (!IsLive(b)) return -1;
  return b->backend->getPosition(b, play, write);
}

int SetPlayBufferPosition(SoundBufferRecord* b, unsigned int byteOffset) {
  if (!IsLive(b)) return -1;
  return b->backend->setPosition(b, byteOffset);
}

int SetPlayBufferFrequency(SoundBufferRecord* b, int hz) {
  if (!IsLive(b)) return -1;
  b->frequency = hz == 0 ? -1 : hz;
  return b->backend->setFrequency(b, hz);
}

int SetPlayBufferPan(SoundBufferRecord* b, int pan) {
  if (!IsLive(b)) return -1;
  b->pan = ClampInt(pan, DSBPAN_LEFT, DSBPAN_RIGHT);
  return ApplyVolumes(b);
}

int SetPlayBufferChannelVolume(SoundBufferRecord* b, int channel, int volume) {
  if (!IsLive(b) || channel < 0 || channel >= SOUND_CHANNEL_VOLUME_COUNT) return -1;
  b->volume[channel] = volume;
  return ApplyVolumes(b);
}

int FillPlayBufferSilence(SoundBufferRecord* b, void* region1, DWORD size1, void* region2, DWORD size2) {
  if (!b->present) return -1;
  int value = b->format.wBitsPerSample == 8 ? SILENCE_8BIT : 0;
  if (region1) memset(region1, value, size1);
  if (region2) memset(region2, value, size2);
  return 0;
}
