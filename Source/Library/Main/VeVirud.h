// Sound layer: sound output over XAudio2 2.8 (by DLL), XAudio2 2.7 (through
// COM) or DirectSound; sound handles (type 3) with up to ten play buffers;
// loading, playing, stream sounds and the sound thread.
#ifndef VEVIRUD_H
#define VEVIRUD_H

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>
#include <xaudio2.h>
#include <stdint.h>

#include "VeRavoro.h"
#include "VeVirudConvert.h"
#include "VuViderezaMath.h"
#include "ZaVizeDidazu.h"
#include "RiDov.h"

struct SoundBufferRecord;
struct IDirectMusicLoader8;
struct IDirectMusicPerformance8;

namespace RiDov {

// The library's copy of the XAudio2 voice-callback interface (same in 2.7
// and 2.8): seven slots, no IUnknown.
class D_IXAudio2VoiceCallback {
 public:
  virtual void STDMETHODCALLTYPE OnVoiceProcessingPassStart(UINT32 bytesRequired) = 0;
  virtual void STDMETHODCALLTYPE OnVoiceProcessingPassEnd() = 0;
  virtual void STDMETHODCALLTYPE OnStreamEnd() = 0;
  virtual void STDMETHODCALLTYPE OnBufferStart(void* context) = 0;
  virtual void STDMETHODCALLTYPE OnBufferEnd(void* context) = 0;
  virtual void STDMETHODCALLTYPE OnLoopEnd(void* context) = 0;
  virtual void STDMETHODCALLTYPE OnVoiceError(void* context, HRESULT error) = 0;
};

// XAudio2 2.7 device details.
struct D_XAUDIO2_DEVICE_DETAILS {
  WCHAR DeviceID[256];
  WCHAR DisplayName[256];
  DWORD Role;
  WAVEFORMATEXTENSIBLE OutputFormat;
};

// XAudio2 2.7 engine (created through COM). Its voices have the same slots
// as the 2.8 voices, so the platform's voice interfaces serve both.
class D_IXAudio2_27 : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetDeviceCount(UINT32* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceDetails(UINT32 index, D_XAUDIO2_DEVICE_DETAILS* details) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(UINT32 flags, XAUDIO2_PROCESSOR processor) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterForCallbacks(void* callback) = 0;
  virtual void STDMETHODCALLTYPE UnregisterForCallbacks(void* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format,
                                                      UINT32 flags, float maxFrequencyRatio, void* callback,
                                                      const XAUDIO2_VOICE_SENDS* sends,
                                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSubmixVoice(IXAudio2SubmixVoice** voice, UINT32 channels, UINT32 sampleRate,
                                                      UINT32 flags, UINT32 stage, const XAUDIO2_VOICE_SENDS* sends,
                                                      const XAUDIO2_EFFECT_CHAIN* effects) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateMasteringVoice(IXAudio2MasteringVoice** voice, UINT32 channels,
                                                         UINT32 sampleRate, UINT32 flags, UINT32 deviceIndex,
                                                         const XAUDIO2_EFFECT_CHAIN* effects) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartEngine() = 0;
  virtual void STDMETHODCALLTYPE StopEngine() = 0;
  virtual HRESULT STDMETHODCALLTYPE CommitChanges(UINT32 operationSet) = 0;
  virtual void STDMETHODCALLTYPE GetPerformanceData(void* data) = 0;
  virtual void STDMETHODCALLTYPE SetDebugConfiguration(const void* configuration, void* reserved) = 0;
};

// Feeds a source voice from its buffer's wave data.
class SOUNDBUFFER_CALLBACK final : public D_IXAudio2VoiceCallback {
 public:
  SoundBufferRecord* buffer;
  void STDMETHODCALLTYPE OnVoiceProcessingPassStart(UINT32 bytesRequired) override;
  void STDMETHODCALLTYPE OnVoiceProcessingPassEnd() override {}
  void STDMETHODCALLTYPE OnStreamEnd() override {}
  void STDMETHODCALLTYPE OnBufferStart(void*) override {}
  void STDMETHODCALLTYPE OnBufferEnd(void* context) override;
  void STDMETHODCALLTYPE OnLoopEnd(void*) override {}
  void STDMETHODCALLTYPE OnVoiceError(void*, HRESULT) override {}
};

}  // namespace RiDov

enum {
  SOUND_BUFFER_MAX = 10,
  SOUND_CHANNEL_VOLUME_COUNT = 8,
  STREAM_SOURCE_MAX = 3,
  SOUND_QUEUED_CHUNK_SLOTS = 8,  // chunks a voice remembers by sequence number (a power of two)
  SOUND_STREAM_SECONDS_LIMIT = 180,
};

// Output modes: XAudio2 first with DirectSound as the fall-back, or
// DirectSound made by a DirectMusic performance.
enum SoundOutputMode { SOUND_OUTPUT_MODE_XAUDIO2 = 0, SOUND_OUTPUT_MODE_DIRECTMUSIC = 1 };

enum SoundOutputKind {
  SOUND_OUTPUT_NONE = 0,
  SOUND_OUTPUT_XAUDIO2_8 = 1,
  SOUND_OUTPUT_XAUDIO2_7 = 2,
  SOUND_OUTPUT_DIRECTSOUND = 3
};

enum { SOUND_REVERB_PRESET_COUNT = 30 };

// Native reverb parameters: the 52-byte XAudio2 2.7 layout, which is also
// the record GetReverbPresetParameters fills.
#pragma pack(push, 1)
struct SoundReverbParameters {
  float wetDryMix;
  uint32_t reflectionsDelay;
  unsigned char reverbDelay, rearDelay;
  unsigned char positionLeft, positionRight, positionMatrixLeft, positionMatrixRight;
  unsigned char earlyDiffusion, lateDiffusion;
  unsigned char lowEQGain, lowEQCutoff, highEQGain, highEQCutoff;
  float roomFilterFreq, roomFilterMain, roomFilterHF;
  float reflectionsGain, reverbGain, decayTime, density, roomSize;
};
// The 56-byte XAudio2 2.8 layout.
struct SoundReverbParameters28 {
  SoundReverbParameters base;
  int32_t disableLateField;
};
#pragma pack(pop)
static_assert(sizeof(SoundReverbParameters) == 52, "2.7 reverb parameters are 52 bytes");
static_assert(sizeof(SoundReverbParameters28) == 56, "2.8 reverb parameters are 56 bytes");

// PCM of an XAudio2 play buffer, shared between the buffers of one sound.
struct SoundWaveData {
  unsigned char* data;    // 16-byte aligned inside the allocation
  unsigned char* stereo;  // widened copy of a mono sound, or null
  unsigned int size;
  volatile LONG refCount;
  void* allocation;
};

// The library's listener for 3-D sound (the DirectSound computation).
struct Sound3DListener {
  Vector3 position;
  Vector3 front;
  Vector3 up;
  Vector3 side;  // up x front: the listener's right
  Vector3 velocity;
  float innerAngle, outerAngle;  // full cone angles, radians
  float innerVolume, outerVolume;
};

// A play buffer's place in space (3-D sounds only).
struct Sound3DEmitter {
  int is3D;
  Vector3 position;
  Vector3 velocity;
  float radius;
  int dirty;
  float volume;  // last computed, 0..1
  float pan;     // last computed, -0.8..0.8, positive to the right
};

struct PlayBufferBackend;

struct SoundBufferRecord {
  int present;
  const PlayBufferBackend* backend;  // of the output it was made for; null when not made
  IDirectSoundBuffer* dsBuffer;
  IXAudio2SourceVoice* voice;
  RiDov::SOUNDBUFFER_CALLBACK* callback;
  int pan;
  int volume[SOUND_CHANNEL_VOLUME_COUNT];
  int frequency;        // -1 = the data's own rate
  unsigned int length;  // sample frames
  WAVEFORMATEX format;  // after any mono-to-stereo widening
  SoundWaveData* wave;
  volatile int playing;
  volatile unsigned int playPosition;    // frames
  volatile unsigned int submitPosition;  // frames
  volatile int loop;
  int voiceChannels;
  // Chunks queued on the voice: each submission's sequence number, the
  // frame it ends at and whether it ends the sound; a position change
  // starts a new generation so that late ends of flushed chunks are ignored.
  // The voice callback and a position change take `voiceLock` so that a
  // pass never mixes the old position with the new generation.
  LockRecord voiceLock;
  int voiceLockMade;
  volatile LONG queued;
  volatile LONG generation;
  LONG submitSequence;
  struct QueuedChunk {
    volatile LONG sequence;
    volatile LONG generation;
    unsigned int endFrame;
    int endsSound;
  } chunks[SOUND_QUEUED_CHUNK_SLOTS];
  int reverbState;
  int reverbStartTime;
  Sound3DEmitter emitter;
  // XAudio2 3-D buffers: the reverb submix voice the source also sends to,
  // its reverb effect and the parameters set on it (native layout).
  IXAudio2SubmixVoice* submix;
  IUnknown* reverbEffect;
  SoundReverbParameters28 reverbParams;
};

// Where a sound handle's data lives: PCM in memory that its buffers play,
// or a stream refilled into one ring buffer.
enum SoundStorage { SOUND_STORAGE_MEMORY = 0, SOUND_STORAGE_STREAM = 1 };

struct StreamSoundSource {
  void* image;  // owned memory image, or null
  int imageSize;
  MemoryStream* memoryStream;  // over the image, or null
  StreamData stream;
  int kind;  // 0 decoded whole, 1 the caller's stream, 2 a memory copy
  SoundConversion conversion;
  int repeatCount;  // 255 = endless from the loop start
  int playCount;
  int closeWithSound;
  int loopStart;  // samples, -1 none
  int loopEnd;
};

struct StreamSoundState {
  int sharedWith;   // handle whose buffer this one uses, -1 own
  int shareCount;   // sounds using this one's buffer
  int currentUser;  // handle playing through this one's buffer, -1 none
  int deleteWhenUnshared;
  StreamSoundSource sources[STREAM_SOURCE_MAX];
  int sourceCount;
  int totalSamples;
  int currentSource;
  unsigned int takenBytes;  // of the current source
  int writeOffset;          // -800: no first fill yet
  int safeStart;
  uint64_t playedBytes;
  int lastPlayCursor;
  int prepared;
  int ended;
  int endStart;  // ring offsets where the data ends / its silence ends
  int endStop;
  int playType;
  HandleListNode node;
};

struct SoundRecord {
  HandleRecordHeader header;
  int is3D;
  int onDeleteList;
  HandleListNode deleteNode;
  int bufferCount;
  int paused[SOUND_BUFFER_MAX];
  int wasPlaying[SOUND_BUFFER_MAX];
  SoundBufferRecord buffers[SOUND_BUFFER_MAX];
  WAVEFORMATEX format;
  int storage;  // SoundStorage
  StreamSoundState stream;
  unsigned int pcmSize;
  void* pcm;
  int* pcmRefCount;
  int currentBuffer;
  SoundReverbParameters reverb;  // preset 0 (Forest) at creation
  int volume[SOUND_CHANNEL_VOLUME_COUNT];
  int pan;
  int frequency;
  unsigned char nextVolumeSet[SOUND_CHANNEL_VOLUME_COUNT];
  unsigned char nextPanSet;
  unsigned char nextFrequencySet;
  int nextVolume[SOUND_CHANNEL_VOLUME_COUNT];
  int nextPan;
  int nextFrequency;
  int onPlaying3DList;  // 3-D sounds played and not yet faded out
  HandleListNode playing3DNode;
};

// A soft sound (type 4): PCM samples in memory, or a player that streams PCM
// from its ring into one looping play buffer (the sound thread refills it).
struct SoftSoundRecord {
  HandleRecordHeader header;
  int isPlayer;
  HandleListNode node;     // on the player list
  unsigned char* samples;  // owned; sample records only
  int sampleCount;
  WAVEFORMATEX format;
  // Players:
  RingBuffer pcm;
  SoundBufferRecord buffer;
  int bufferBytes;
  int writeOffset;
  int lead;       // bytes kept free before the play cursor
  int endOffset;  // where the real data ends in the buffer, -1 none
  int playedOut;
  int lastCursor;
  int active;
  int paused;
  int wasPlaying;
};
// A music handle: MIDI data played through the MCI sequencer.
struct MusicRecord {
  HandleRecordHeader header;
  int playing;
  int seenPlaying;
  unsigned char mark;  // 255 from creation
  void* midiData;      // owned
  unsigned int midiSize;
};

// The MCI side of MIDI playback (one piece plays at a time).
struct MidiPlayState {
  MCIDEVICEID deviceId;
  int loop;
  int playing;
  int tempFile;  // 1 while the temporary MIDI file exists
  char tempPath[MAX_PATH];
  int handle;  // music handle that plays, -1 none
};

// How a sound file is loaded: decoded whole into memory, or streamed from
// the open file or from a memory image of it (any value past 2 too).
enum SoundLoadMethod { SOUND_LOAD_DECODE = 0, SOUND_LOAD_STREAM_FILE = 1, SOUND_LOAD_STREAM_IMAGE = 2 };

struct SoundLoadSettings {
  int is3D;
  int loadMethod;  // SoundLoadMethod
  int disableMask;
  int oggBytesPerSample;
  int oggVariant;
};


struct SoundSystemState {
  int initialized;
  HMODULE xaudio28Module;
  HRESULT(WINAPI* XAudio2CreateFunc)(IXAudio2**, UINT32, XAUDIO2_PROCESSOR);
  void* CreateAudioVolumeMeterFunc;
  void* CreateAudioReverbFunc;
  HMODULE x3dAudioModule;
  void* X3DAudioInitializeFunc;
  void* X3DAudioCalculateFunc;
  IXAudio2* xaudio28;
  RiDov::D_IXAudio2_27* xaudio27;
  IDirectSound* directSound;
  IXAudio2MasteringVoice* master27;
  IXAudio2MasteringVoice* master28;
  unsigned int channelMask;
  int channelCount;
  unsigned int masterSampleRate;
  SoundReverbParameters reverb27[SOUND_REVERB_PRESET_COUNT];
  SoundReverbParameters28 reverb28[SOUND_REVERB_PRESET_COUNT];
  unsigned char x3dInstance[20];
  IDirectSoundBuffer* primaryBuffer;
  IDirectSoundBuffer* silentBuffer;
  HandleListNode streamHead, streamTail;
  HandleListNode softPlayerHead, softPlayerTail;
  HandleListNode deleteHead, deleteTail;
  int outputMode;  // SoundOutputMode
  // Output mode 1: the DirectMusic loader and performance (the performance
  // makes the DirectSound output) and the master volume read at start.
  IDirectMusicLoader8* musicLoader;
  IDirectMusicPerformance8* musicPerformance;
  int musicMasterVolume;
  int xaudio2Off;                        // 1: DirectSound is the output
  const PlayBufferBackend* playBackend;  // the running output's buffer operations, null when none
  int softwareBuffer;
  SoundLoadSettings loadSettings;
  HANDLE thread;
  DWORD threadId;
  volatile LONG threadStop;  // 0 running, 1 asked to stop, 2 stopped
  int libraryMusicHandle;
  int libraryMusicKind;
  Sound3DListener listener;
  MidiPlayState midi;
  HandleListNode playing3DHead, playing3DTail;
};
extern SoundSystemState SoundSystem;

// Start and end of sound output.
int InitializeSound();
int TerminateSound();
void StopLibraryMusic();
int GetSoundOutputKind();          // SoundOutputKind
int SetSoundOutputMode(int mode);  // SoundOutputMode; -1 while sound runs
// Reverb presets (0 Forest, 1 Default, ... 29 Plate): -1 unless XAudio2 is
// the output and the preset is below 30; a null record only validates.
int GetReverbPresetParameters(SoundReverbParameters* out, int preset);
void ConvertI3DL2ToNative27(int preset, SoundReverbParameters* native);
void ConvertI3DL2ToNative28(int preset, SoundReverbParameters28* native);
void BuildReverbPresetTables();
// Test seam: the logical-processor count the start reads (null: the count
// noted at start-up, or the system's when none was noted).
extern int (*SoundProcessorCountSource)();

// Sound handles.
SoundRecord* GetSoundRecord(int handle);  // null for invalid or still loading
int InitSoundHandleRecord(HandleRecordHeader* record);
int ReleaseSoundHandleRecord(HandleRecordHeader* record);
int CreateSoundHandle(int is3D);
int SetupSoundBuffers(const WAVEFORMATEX* format, unsigned int byteCount, int storage, int bufferCount, int handle,
                      int fromJob, int sourceHandle);

// A sound handle's calls by its storage (`GetSoundStorageCalls`).
struct SoundStorageCalls {
  // 0 started, 1 left playing as it was (no wait for the end), -1 failed.
  int (*play)(SoundRecord* sound, int playType, int fromTop);
  int (*stop)(SoundRecord* sound);
  void (*stopForRelease)(SoundRecord* sound);
  int (*isPlaying)(SoundRecord* sound);
  int (*getPosition)(SoundRecord* sound);  // milliseconds
  int (*getTotalSamples)(SoundRecord* sound);
  // Frees the buffers and data; 1 when a stream others still play through
  // stays until the last of them goes.
  int (*release)(SoundRecord* sound);
};
extern const SoundStorageCalls MemorySoundStorage;
extern const SoundStorageCalls StreamSoundStorage;
const SoundStorageCalls* GetSoundStorageCalls(const SoundRecord* sound);

// Play buffers. An output's buffer operations: the shared calls below check
// the buffer and keep the output-neutral state, then call these. The
// engine calls are the XAudio2 version's (null for DirectSound).
struct PlayBufferBackend {
  // Makes the output's object for `format`, which a voice may widen from
  // mono to stereo; `description` (null with a `source` to duplicate).
  int (*create)(SoundBufferRecord* buffer, WAVEFORMATEX* format, unsigned int byteCount,
                const DSBUFFERDESC* description, SoundBufferRecord* source);
  void (*release)(SoundBufferRecord* buffer);
  int (*play)(SoundBufferRecord* buffer);  // with `loop` already set
  void (*stop)(SoundBufferRecord* buffer, int withReverb);
  int (*getStatus)(SoundBufferRecord* buffer, DWORD* status);
  int (*lock)(SoundBufferRecord* buffer, unsigned int offset, unsigned int count, void** region1, DWORD* size1,
              void** region2, DWORD* size2);
  int (*unlock)(SoundBufferRecord* buffer, void* region1, DWORD size1, void* region2, DWORD size2);
  int (*getPosition)(SoundBufferRecord* buffer, DWORD* play, DWORD* write);
  int (*setPosition)(SoundBufferRecord* buffer, unsigned int byteOffset);
  int (*setFrequency)(SoundBufferRecord* buffer, int hz);  // 0: the data's own rate
  // Volumes in hundredths of a decibel per channel and a pan, 3-D folded in.
  int (*applyVolumes)(SoundBufferRecord* buffer, const int* volumes, int pan);
  HRESULT (*createSourceVoice)(SoundBufferRecord* buffer, const WAVEFORMATEX* format);
  HRESULT (*createSubmixVoice)(IXAudio2SubmixVoice** submix, UINT32 channels, const XAUDIO2_EFFECT_CHAIN* chain);
};
extern const PlayBufferBackend XAudio28PlayBackend;
extern const PlayBufferBackend XAudio27PlayBackend;
extern const PlayBufferBackend DirectSoundPlayBackend;

int CreatePlayBuffer(SoundBufferRecord* buffer, const DSBUFFERDESC* description, SoundBufferRecord* source);
int ReleasePlayBuffer(SoundBufferRecord* buffer);
int PlayPlayBuffer(SoundBufferRecord* buffer, int loop);
int StopPlayBuffer(SoundBufferRecord* buffer, int withReverb);
int GetPlayBufferStatus(SoundBufferRecord* buffer, DWORD* status);
int LockPlayBuffer(SoundBufferRecord* buffer, unsigned int offset, unsigned int count, void** region1, DWORD* size1,
                   void** region2, DWORD* size2);
int UnlockPlayBuffer(SoundBufferRecord* buffer, void* region1, DWORD size1, void* region2, DWORD size2);
int GetPlayBufferPosition(SoundBufferRecord* buffer, DWORD* play, DWORD* write);
int SetPlayBufferPosition(SoundBufferRecord* buffer, unsigned int byteOffset);
int SetPlayBufferFrequency(SoundBufferRecord* buffer, int hz);
int SetPlayBufferPan(SoundBufferRecord* buffer, int pan);
int SetPlayBufferChannelVolume(SoundBufferRecord* buffer, int channel, int volume);
int FillPlayBufferSilence(SoundBufferRecord* buffer, void* region1, DWORD size1, void* region2, DWORD size2);

// Pure arithmetic of the volume application.
void ComputeXAudio2ChannelGains(const int* volumes, int pan, int channels, float* gains);
// Left and right volumes and pan to DirectSound's one volume and pan.
void ComputeDirectSoundVolumePan(int leftVolume, int rightVolume, int pan, int* volume, int* dsPan);

// Loading.
int LoadSoundFileWithBuffers(const char* file, int bufferCount, int sharedStreamHandle);
int LoadSoundFileCore(const SoundLoadSettings* settings, const char* file, int bufferCount, int sharedStreamHandle,
                      int async, int fromJob);
int LoadSoundIntoHandle(const SoundLoadSettings* settings, const char* fullPath, int bufferCount,
                        int sharedStreamHandle, int handle, int fromJob);
int LoadWholeFile(const char* path, void** data, int* size);
int CreateMemorySoundData(const SoundLoadSettings* settings, int handle, const void* image, int imageSize,
                          int bufferCount, int sharedStreamHandle, int fromJob);
void GetSoundLoadSettings(SoundLoadSettings* settings);

// Playing.
uint64_t SamplesToMilliseconds(uint64_t samples, uint32_t rate);
int PrepareNextPlayBuffer(SoundRecord* sound, int fromTop);
// The sound's volumes, pan and frequency (or their next-play overrides) onto a buffer.
void ApplyNextPlaySettings(SoundRecord* sound, SoundBufferRecord* buffer);
int PauseResumeAllSoundHandles(int pause);

// Stream sounds.
int AddStreamSound(const SoundLoadSettings* settings, const StreamData* stream, int repeatCount, int handle,
                   int sourceKind, int* keepStream, int sharedHandle, int fromJob);
int AddStreamSoundFile(const SoundLoadSettings* settings, const char* path, int repeatCount, int handle, int sourceKind,
                       int sharedHandle, int fromJob);
int AddStreamSoundMemory(const SoundLoadSettings* settings, const void* image, int size, int repeatCount, int handle,
                         int sourceKind, int sharedHandle, int fromJob);
int SetStreamSoundLoopSamples(int handle, int loopStart, int loopEnd);  // of the last source
int PrepareStreamStart(int handle, int fromJob);
int RefillStreamSound(int handle, int fromJob);
// Bytes to write now given the ring state; -1 when the play cursor lies
// outside [safeStart, writeOffset).
int ComputeStreamRefillBytes(int playing, int writeOffset, int safeStart, int playCursor, int ringSize,
                             int bytesPerSecond, int blockAlign);

// Upkeep.
int ProcessAllStreamSounds();
int DeleteStoppedAutoDeleteSounds();
int UpdateSoundStopWaitList();
// A buffer's reverb after its play: state 1 (on) turns to 2 (fading) with
// `now` as its start; the fade lasts 3000 ms of the 31-bit millisecond clock,
// across its wrap, then the state is 0. 1 while the buffer plays or fades.
int UpdateReverbFade(int* state, int* startTime, int playing, int now);
int UpdateAllSoftSoundPlayers();

// 3-D sound. A change below 0.001 in every coordinate is ignored; a buffer
// that plays is recomputed at once, one that does not at its next play.
void ResetSound3DListener(Sound3DListener* listener);
int SetPlayBuffer3DPosition(SoundBufferRecord* buffer, const Vector3* position);
int SetPlayBuffer3DVelocity(SoundBufferRecord* buffer, const Vector3* velocity);
int SetPlayBuffer3DRadius(SoundBufferRecord* buffer, float radius);
void InitPlayBuffer3D(SoundBufferRecord* buffer, const SoundBufferRecord* source);
int UpdatePlayBuffer3D(SoundBufferRecord* buffer);
// The low-pass frequency of an X3DAudio low-pass coefficient: 2 sin(pi/6 c).
float LowPassFrequencyFromCoefficient(float coefficient);
// XAudio2 3-D buffers: the reverb effect on a submix voice fed by the source
// voice beside the mastering voice (both sends filtered); -1 when the effect
// or the voice cannot be made (the buffer then sends to the mastering voice
// alone). The release destroys the submix after the source voice is gone.
int AttachReverbSubmix(SoundBufferRecord* buffer);
void ReleaseReverbSubmix(SoundBufferRecord* buffer);
// A played 3-D sound goes on the playing-3-D list (under the sound lock).
void AddToPlaying3DList(SoundRecord* sound, int handle);
void RemoveFromPlaying3DList(SoundRecord* sound);
// The buffer activity test of the wait list: playing, or its reverb still
// fading (3000 ms after the stop; then the effect is disabled). Buffers
// without a reverb submix voice are never active.
int IsPlayBufferReverbActive(SoundBufferRecord* buffer, int now);
// X3DAudio's output matrix (source x destination channels, at most
// X3D_MATRIX_MAX coefficients) for an emitter and the library's listener;
// -1 without X3DAudio.
enum { X3D_MATRIX_MAX = 256 };
int ComputeX3DAudioMatrix(const Sound3DEmitter* emitter, int sourceChannels, int destinationChannels, float* matrix,
                          float* doppler, float* reverbLevel, float* lpfDirect = nullptr, float* lpfReverb = nullptr);
// The DirectSound 3-D volume (0..1) and pan (-0.8..0.8, positive right).
void ComputeSound3DVolumePan(const Sound3DListener* listener, const Vector3* position, float radius, float* volume,
                             float* pan);

// Soft sounds: samples (8-bit unsigned or 16-bit signed, 1 or 2 channels)
// and players fed from them.
int UpdateSoftSoundPlayer(SoftSoundRecord* player);
int ReleaseSoftSoundHandleRecord(HandleRecordHeader* record);
int PauseResumeAllSoftSoundPlayers(int pause);

// Music handles: MIDI through MCI. Loading copies the data; playing writes
// it to a temporary file the sequencer opens (its end notification goes to
// the main window and `HandleMidiPlayEnd`).
int HandleMidiPlayEnd();
int UpdateMusicPlayStates();
int InitMusicHandleRecord(HandleRecordHeader* record);
int ReleaseMusicHandleRecord(HandleRecordHeader* record);

// Wave files. The image is freed with MemFree.
int BuildWaveImage(void** image, int* imageSize, const WAVEFORMATEX* format, int formatSize, const void* data,
                   int dataSize);
// The capture file: 16-bit stereo 44100 Hz frames appended after a header
// that `WriteWaveFile` writes when it completes and closes the file.
int OpenWaveCaptureFile(const char* path);
int AddWaveCaptureFrames(const int16_t* samples, int frames);
int WriteWaveFile();  // -1 when no capture file is open
int ReadWholeStream(const StreamData* stream, void** data, int* size);

#endif  // VEVIRUD_H
