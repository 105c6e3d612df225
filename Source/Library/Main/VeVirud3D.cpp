// 3-D sound: the listener, the emitters of 3-D play buffers and the
// DirectSound computation of a 3-D volume and pan from distance, cone and
// the listener's side direction; the result goes through the buffer's
// volume and pan application. With XAudio2: the reverb submix voice of a
// 3-D buffer, X3DAudio's output matrices, Doppler ratio and the low-pass
// filters of both sends.
// Threads: main thread or a loading job, under the callers' sound lock.
// Platform: X3DAudioCalculate (loaded with XAudio2), the reverb effect
// ("CreateAudioReverb" of XAudio2 2.8, the 2.7 reverb class through COM), the
// submix voice and its effect parameters, the source voice's SetOutputVoices,
// SetOutputMatrix, SetOutputFilterParameters and SetFrequencyRatio;
// DirectSound through the buffer layer.
#include <math.h>
#include <string.h>

#include "RaRadaraSystem.h"
#include "VeVirud.h"

namespace {

// Our copy of the X3DAudio records (byte-packed, as the library expects).
#pragma pack(push, 1)
struct D_X3DAUDIO_CONE {
  float innerAngle, outerAngle, innerVolume, outerVolume, innerLpf, outerLpf, innerReverb, outerReverb;
};
struct D_X3DAUDIO_LISTENER {
  Vector3 front, top, position, velocity;
  D_X3DAUDIO_CONE* cone;
};
struct D_X3DAUDIO_CURVE_POINT {
  float distance, setting;
};
struct D_X3DAUDIO_CURVE {
  const D_X3DAUDIO_CURVE_POINT* points;
  UINT32 count;
};
struct D_X3DAUDIO_EMITTER {
  D_X3DAUDIO_CONE* cone;
  Vector3 front, top, position, velocity;
  float innerRadius, innerRadiusAngle;
  UINT32 channelCount;
  float channelRadius;
  float* channelAzimuths;
  const D_X3DAUDIO_CURVE* volumeCurve;
  const D_X3DAUDIO_CURVE* lfeCurve;
  const D_X3DAUDIO_CURVE* lpfDirectCurve;
  const D_X3DAUDIO_CURVE* lpfReverbCurve;
  const D_X3DAUDIO_CURVE* reverbCurve;
  float curveDistanceScaler, dopplerScaler;
};
struct D_X3DAUDIO_DSP_SETTINGS {
  float* matrix;
  float* delayTimes;
  UINT32 sourceChannels, destinationChannels;
  float lpfDirect, lpfReverb, reverbLevel, dopplerFactor, angle, distance, emitterVelocity, listenerVelocity;
};
#pragma pack(pop)
typedef void(__cdecl* X3DAudioCalculateFunction)(const unsigned char* instance, const D_X3DAUDIO_LISTENER* listener,
                                                 const D_X3DAUDIO_EMITTER* emitter, UINT32 flags,
                                                 D_X3DAUDIO_DSP_SETTINGS* settings);

enum {
  X3D_CALCULATE_FLAGS = 0x3D,  // matrix, low-pass direct and reverb, reverb, Doppler
  X3D_REDIRECT_TO_LFE = 0x20000,
  SPEAKER_LOW_FREQUENCY_BIT = 0x8,
};

const D_X3DAUDIO_CURVE_POINT VolumePoints[] = {{0.0f, 1.0f}, {1.0f, 0.0f}};
const D_X3DAUDIO_CURVE_POINT LfePoints[] = {{0.0f, 1.0f}, {0.25f, 0.0f}, {1.0f, 0.0f}};
const D_X3DAUDIO_CURVE_POINT ReverbPoints[] = {{0.0f, 0.5f}, {0.75f, 1.0f}, {1.0f, 0.0f}};
const D_X3DAUDIO_CURVE VolumeCurve = {VolumePoints, 2};
const D_X3DAUDIO_CURVE LfeCurve = {LfePoints, 3};
const D_X3DAUDIO_CURVE ReverbCurve = {ReverbPoints, 3};

// The XAudio2 2.7 reverb class.
const CLSID CLSID_AudioReverb27 = {0x6a93130e, 0x1d53, 0x41d1, {0xa9, 0xcf, 0xe7, 0x58, 0x80, 0x0b, 0xb1, 0x79}};
typedef HRESULT(WINAPI* CreateAudioReverbFunction)(IUnknown** effect);

const float PI_OVER_SIX = 3.14159265f / 6.0f;
const float MOVE_THRESHOLD = 0.001f;
const float PAN_LIMIT = 0.8f;
const float FULL_CONE = 6.2831853f;
const float DEFAULT_RADIUS = 14.0f;

bool Moved(const Vector3& a, const Vector3& b) {
  return fabsf(a.x - b.x) >= MOVE_THRESHOLD || fabsf(a.y - b.y) >= MOVE_THRESHOLD || fabsf(a.z - b.z) >= MOVE_THRESHOLD;
}

LockRecord* SoundLock() { return &HandleManagers[HANDLETYPE_SOUND].lock; }

int Recompute(SoundBufferRecord* b) {
  b->emitter.dirty = 1;
  return b->playing ? UpdatePlayBuffer3D(b) : 0;
}

}  // namespace

int ComputeX3DAudioMatrix(const Sound3DEmitter* e, int sourceChannels, int destinationChannels, float* matrix,
                          float* doppler, float* reverbLevel, float* lpfDirect, float* lpfReverb) {
  if (SoundSystem.X3DAudioCalculateFunc == nullptr || sourceChannels < 1 || sourceChannels > 8 ||
      destinationChannels < 1 || sourceChannels * destinationChannels > X3D_MATRIX_MAX) {
    return -1;
  }
  const Sound3DListener* l = &SoundSystem.listener;
  // The published default directional cone of an X3DAudio listener.
  D_X3DAUDIO_CONE listenerCone = {5.0f * PI_OVER_SIX, 11.0f * PI_OVER_SIX, 1.0f, 0.75f, 0.0f, 0.25f, 0.708f, 1.0f};
  D_X3DAUDIO_LISTENER listener = {l->front, l->up, l->position, l->velocity, &listenerCone};
  D_X3DAUDIO_CONE cone = {0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f};
  float azimuths[8] = {};
  D_X3DAUDIO_EMITTER emitter;
  memset(&emitter, 0, sizeof(emitter));
  emitter.cone = &cone;
  emitter.front = Vector3{0.0f, 0.0f, 1.0f};
  emitter.top = Vector3{0.0f, 1.0f, 0.0f};
  emitter.position = e->position;
  emitter.velocity = e->velocity;
  emitter.innerRadius = 2.0f;
  emitter.innerRadiusAngle = 3.14159265f / 4.0f;
  emitter.channelCount = static_cast<UINT32>(sourceChannels);
  emitter.channelRadius = 0.1f;
  emitter.channelAzimuths = azimuths;
  emitter.volumeCurve = &VolumeCurve;
  emitter.lfeCurve = &LfeCurve;
  emitter.reverbCurve = &ReverbCurve;
  emitter.curveDistanceScaler = e->radius;
  emitter.dopplerScaler = 1.0f;
  D_X3DAUDIO_DSP_SETTINGS dsp;
  memset(&dsp, 0, sizeof(dsp));
  memset(matrix, 0, sizeof(float) * X3D_MATRIX_MAX);
  dsp.matrix = matrix;
  dsp.sourceChannels = static_cast<UINT32>(sourceChannels);
  dsp.destinationChannels = static_cast<UINT32>(destinationChannels);
  UINT32 flags = X3D_CALCULATE_FLAGS;
  if (SoundSystem.channelMask & SPEAKER_LOW_FREQUENCY_BIT) flags |= X3D_REDIRECT_TO_LFE;
  reinterpret_cast<X3DAudioCalculateFunction>(SoundSystem.X3DAudioCalculateFunc)(SoundSystem.x3dInstance, &listener,
                                                                                 &emitter, flags, &dsp);
  if (doppler) *doppler = dsp.dopplerFactor;
  if (reverbLevel) *reverbLevel = dsp.reverbLevel;
  if (lpfDirect) *lpfDirect = dsp.lpfDirect;
  if (lpfReverb) *lpfReverb = dsp.lpfReverb;
  return 0;
}

float LowPassFrequencyFromCoefficient(float coefficient) { return 2.0f * sinf(PI_OVER_SIX * coefficient); }

int AttachReverbSubmix(SoundBufferRecord* b) {
  IXAudio2MasteringVoice* master = SoundSystem.master28 ? SoundSystem.master28 : SoundSystem.master27;
  if (b->voice == nullptr || b->backend == nullptr || master == nullptr || b->submix != nullptr) return -1;
  IUnknown* effect = nullptr;
  HRESULT hr = E_FAIL;
  if (SoundSystem.xaudio28 != nullptr) {
    if (SoundSystem.CreateAudioReverbFunc != nullptr) {
      hr = reinterpret_cast<CreateAudioReverbFunction>(SoundSystem.CreateAudioReverbFunc)(&effect);
    }
  } else {
    hr = CreateComInstance(CLSID_AudioReverb27, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                           reinterpret_cast<void**>(&effect), 0);
  }
  IXAudio2SubmixVoice* submix = nullptr;
  if (SUCCEEDED(hr) && effect != nullptr) {
    XAUDIO2_EFFECT_DESCRIPTOR descriptor = {effect, TRUE, static_cast<UINT32>(b->voiceChannels)};
    XAUDIO2_EFFECT_CHAIN chain = {1, &descriptor};
    UINT32 channels = static_cast<UINT32>(b->voiceChannels);
    hr = b->backend->createSubmixVoice(&submix, channels, &chain);
    if (FAILED(hr)) submix = nullptr;
  }
  if (submix != nullptr) {
    // Preset 0 (Forest) in the running version's layout; off until play.
    if (SoundSystem.xaudio28 != nullptr) {
      b->reverbParams = SoundSystem.reverb28[0];
      submix->SetEffectParameters(0, &b->reverbParams, sizeof(SoundReverbParameters28), XAUDIO2_COMMIT_NOW);
    } else {
      memset(&b->reverbParams, 0, sizeof(b->reverbParams));
      b->reverbParams.base = SoundSystem.reverb27[0];
      submix->SetEffectParameters(0, &b->reverbParams.base, sizeof(SoundReverbParameters), XAUDIO2_COMMIT_NOW);
    }
    submix->DisableEffect(0, XAUDIO2_COMMIT_NOW);
  } else if (effect != nullptr) {
    effect->Release();
    effect = nullptr;
  }
  // Filtered sends, so that the low-pass of each can be set.
  XAUDIO2_SEND_DESCRIPTOR sends[2] = {{XAUDIO2_SEND_USEFILTER, master}, {XAUDIO2_SEND_USEFILTER, submix}};
  XAUDIO2_VOICE_SENDS list = {submix != nullptr ? 2u : 1u, sends};
  b->voice->SetOutputVoices(&list);
  b->submix = submix;
  b->reverbEffect = effect;
  return submix != nullptr ? 0 : -1;
}

void AddToPlaying3DList(SoundRecord* sound, int handle) {
  if (!sound->is3D || sound->onPlaying3DList) return;
  ENTER_LOCK(SoundLock());
  HandleListAddFront(&SoundSystem.playing3DHead, &sound->playing3DNode, handle, sound);
  sound->onPlaying3DList = 1;
  LeaveLock(SoundLock());
}

void RemoveFromPlaying3DList(SoundRecord* sound) {
  if (!sound->onPlaying3DList) return;
  HandleListRemove(&sound->playing3DNode);
  sound->onPlaying3DList = 0;
}

int IsPlayBufferReverbActive(SoundBufferRecord* b, int now) {
  if (!b->present || b->voice == nullptr || b->submix == nullptr) return 0;
  int before = b->reverbState;
  DWORD status = 0;
  int playing = GetPlayBufferStatus(b, &status) == 0 && (status & DSBSTATUS_PLAYING) != 0;
  int active = UpdateReverbFade(&b->reverbState, &b->reverbStartTime, playing, now);
  if (!active && before == 2) b->submix->DisableEffect(0, XAUDIO2_COMMIT_NOW);
  return active;
}

void ReleaseReverbSubmix(SoundBufferRecord* b) {
  if (b->submix != nullptr) b->submix->DestroyVoice();
  b->submix = nullptr;
  if (b->reverbEffect != nullptr) b->reverbEffect->Release();
  b->reverbEffect = nullptr;
}

void ResetSound3DListener(Sound3DListener* l) {
  memset(l, 0, sizeof(*l));
  l->front = Vector3{0.0f, 0.0f, 1.0f};
  l->up = Vector3{0.0f, 1.0f, 0.0f};
  l->side = Vector3{1.0f, 0.0f, 0.0f};
  l->innerAngle = FULL_CONE;
  l->outerAngle = FULL_CONE;
  l->innerVolume = 1.0f;
  l->outerVolume = 1.0f;
}

int SetSound3DListener(const Vector3* position, const Vector3* front, const Vector3* up) {
  Sound3DListener* l = &SoundSystem.listener;
  Vector3 f = NormalizeVectorGuarded(front->x, front->y, front->z);
  Vector3 u = NormalizeVectorGuarded(up->x, up->y, up->z);
  Vector3 side;
  VectorCross(&side, &u, &f);
  float length = VectorLengthGuarded(side.x, side.y, side.z);
  if (length == 0.0f) return -1;  // front and up parallel
  l->position = *position;
  l->front = f;
  l->up = u;
  l->side = Vector3{side.x / length, side.y / length, side.z / length};
  return 0;
}

int SetSound3DListenerCone(float innerAngle, float outerAngle, float innerVolume, float outerVolume) {
  if (innerAngle < 0.0f || outerAngle < innerAngle) return -1;
  Sound3DListener* l = &SoundSystem.listener;
  l->innerAngle = innerAngle;
  l->outerAngle = outerAngle;
  l->innerVolume = innerVolume;
  l->outerVolume = outerVolume;
  return 0;
}

void ComputeSound3DVolumePan(const Sound3DListener* l, const Vector3* position, float radius, float* volume,
                             float* pan) {
  Vector3 d;
  VectorSub(&d, position, &l->position);
  float distance = VectorLengthGuarded(d.x, d.y, d.z);
  float distanceVolume = radius > 0.0f && distance <= radius ? 1.0f - distance / radius : 0.0f;
  // A source on the listener counts as straight ahead.
  Vector3 direction = distance > 0.0f ? Vector3{d.x / distance, d.y / distance, d.z / distance} : l->front;
  float cosine = VectorDot(&l->front, &direction);
  cosine = cosine > 1.0f ? 1.0f : (cosine < -1.0f ? -1.0f : cosine);
  float angle = 2.0f * acosf(cosine);
  float cone;
  if (angle < l->innerAngle) {
    cone = l->innerVolume;
  } else if (angle > l->outerAngle || l->outerAngle <= l->innerAngle) {
    cone = l->outerVolume;
  } else {
    cone = l->innerVolume +
           (l->outerVolume - l->innerVolume) * (angle - l->innerAngle) / (l->outerAngle - l->innerAngle);
  }
  *volume = distanceVolume * cone;
  float p = distance > 0.0f ? VectorDot(&l->side, &direction) : 0.0f;
  *pan = p > PAN_LIMIT ? PAN_LIMIT : (p < -PAN_LIMIT ? -PAN_LIMIT : p);
}

void InitPlayBuffer3D(SoundBufferRecord* b, const SoundBufferRecord* source) {
  if (source != nullptr) {
    b->emitter = source->emitter;
  } else {
    memset(&b->emitter, 0, sizeof(b->emitter));
    b->emitter.is3D = 1;
    b->emitter.radius = DEFAULT_RADIUS;
    b->emitter.volume = 1.0f;
  }
  b->emitter.dirty = 1;
  if (b->voice != nullptr && b->submix == nullptr) AttachReverbSubmix(b);
}

int SetPlayBuffer3DPosition(SoundBufferRecord* b, const Vector3* position) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (!Moved(b->emitter.position, *position)) return 0;
  b->emitter.position = *position;
  return Recompute(b);
}

int SetPlayBuffer3DVelocity(SoundBufferRecord* b, const Vector3* velocity) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (!Moved(b->emitter.velocity, *velocity)) return 0;
  b->emitter.velocity = *velocity;
  return Recompute(b);
}

int SetPlayBuffer3DRadius(SoundBufferRecord* b, float radius) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (fabsf(b->emitter.radius - radius) < MOVE_THRESHOLD) return 0;
  b->emitter.radius = radius;
  return Recompute(b);
}

int UpdatePlayBuffer3D(SoundBufferRecord* b) {
  if (!b->present || !b->emitter.is3D || !b->emitter.dirty) return 0;
  IXAudio2MasteringVoice* master = SoundSystem.master28 ? SoundSystem.master28 : SoundSystem.master27;
  if (b->voice != nullptr && master != nullptr && SoundSystem.X3DAudioCalculateFunc != nullptr) {
    // XAudio2: X3DAudio's matrix toward the mastering voice and its Doppler
    // factor as the frequency ratio.
    float matrix[X3D_MATRIX_MAX];
    float doppler = 1.0f, reverbLevel = 0.0f, lpfDirect = 1.0f, lpfReverb = 1.0f;
    if (ComputeX3DAudioMatrix(&b->emitter, b->voiceChannels, SoundSystem.channelCount, matrix, &doppler, &reverbLevel,
                              &lpfDirect, &lpfReverb) == 0) {
      UINT32 channels = static_cast<UINT32>(b->voiceChannels);
      b->voice->SetOutputMatrix(master, channels, static_cast<UINT32>(SoundSystem.channelCount), matrix,
                                XAUDIO2_COMMIT_NOW);
      b->voice->SetFrequencyRatio(doppler, XAUDIO2_COMMIT_NOW);
      XAUDIO2_FILTER_PARAMETERS direct = {LowPassFilter, LowPassFrequencyFromCoefficient(lpfDirect), 1.0f};
      b->voice->SetOutputFilterParameters(master, &direct, XAUDIO2_COMMIT_NOW);
      if (b->submix != nullptr) {
        // Every source channel into every submix channel at the reverb level.
        float reverb[X3D_MATRIX_MAX];
        for (UINT32 i = 0; i < channels * channels; i++) reverb[i] = reverbLevel;
        b->voice->SetOutputMatrix(b->submix, channels, channels, reverb, XAUDIO2_COMMIT_NOW);
        XAUDIO2_FILTER_PARAMETERS toReverb = {LowPassFilter, LowPassFrequencyFromCoefficient(lpfReverb), 1.0f};
        b->voice->SetOutputFilterParameters(b->submix, &toReverb, XAUDIO2_COMMIT_NOW);
      }
      b->emitter.volume = 1.0f;
      b->emitter.pan = 0.0f;
      b->emitter.dirty = 0;
      return 0;
    }
  }
  ComputeSound3DVolumePan(&SoundSystem.listener, &b->emitter.position, b->emitter.radius, &b->emitter.volume,
                          &b->emitter.pan);
  b->emitter.dirty = 0;
  // The volume and pan application folds the 3-D values in.
  return SetPlayBufferPan(b, b->pan);
}
