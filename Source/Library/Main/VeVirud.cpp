// Sound system: start and end of sound output (XAudio2 2.8 from
// "XAudio2_8.dll", XAudio2 2.7 through COM with "X3DAudio1_7.dll", then
// DirectSound through COM; or, in output mode 1, DirectSound made by a
// DirectMusic performance), the sound, soft-sound and music handle types,
// the global lists, the sound thread and the periodic upkeep.
// Threads: start and end run on the main thread; the sound thread (time-
// critical, only with more than one logical processor) takes the sound lock
// (type 3) and then the soft-sound lock (type 4), never both at once.
// Platform: LoadLibraryA/GetProcAddress, CoCreateInstance (from the COM
// library loaded by name), XAudio2, DirectSound, DirectSoundEnumerateA,
// DirectMusic (loader, performance, port listing).
#include "VeVirud.h"

#include <dmusici.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"
#include "ZiDezaru.h"

namespace {
const char LOG_USING_XAUDIO28[] = "XAudio2_8.dll を使用します";
const char LOG_XAUDIO2_CREATE[] = "XAudio2 インターフェースの取得と初期化を行います....  ";
const char LOG_INIT_FAILED[] = "初期化に失敗しました";
const char LOG_ERROR_CODE[] = "エラーコード %x";
const char LOG_SUCCESS_28[] = "成功 Ver2.8";
const char LOG_MASTERING_VOICE[] = "XAudio2MasteringVoiceの作成に失敗しました";
const char LOG_XAUDIO2_GET[] = "XAudio2 インターフェースの取得を行います....  ";
const char LOG_XAUDIO2_GET_FAILED[] = "XAudio2インターフェースの取得に失敗しました";
const char LOG_SUCCESS_VERSION[] = "成功 Ver2.%d";
const char LOG_CONTINUE_INIT[] = "引き続きインターフェースの初期化処理...  ";
const char LOG_SUCCESS[] = "成功";
const char LOG_X3DAUDIO_LOAD[] = "X3DAudio.DLL の読み込み中... ";
const char LOG_X3DAUDIO_FAILED[] = "失敗、X3DAudio、XAudio2は使用しません";
const char LOG_DS_INIT[] = "DirectSound の初期化を行います";
const char LOG_DS_GET[] = "DirectSound インターフェースの取得を行います....  ";
const char LOG_DS_GET_FAILED[] = "DirectSoundインターフェースの取得に失敗しました";
const char LOG_DS_COOPERATIVE[] = "DirectSoundの協調レベルの設定に失敗しました";
const char LOG_DS_PRIMARY[] = "DirectSoundのプライマリサウンドバッファの作成に失敗しました";
const char LOG_DS_PRIMARY_FORMAT[] = "DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました";
const char LOG_DS_DEVICE[] = "モジュール名:%15s  ドライバ記述:%s ";
const char LOG_SILENCE_CREATE[] = "無音バッファの作成に失敗しました";
const char LOG_SILENCE_LOCK[] = "無音バッファのロックに失敗しました";
const char LOG_DS_ENUMERATE[] = "DirectSound デバイスを列挙します";
const char LOG_DSOUND_LOAD[] = "DSOUND.DLL のロードに失敗しました";
const char LOG_DS_ENUMERATE_PROC[] = "DirectSound デバイスの列挙用関数のポインタ取得に失敗しました";
const char LOG_DS_RATES[] = "最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ";
const char LOG_DS_MEMORY[] = "総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB ";
const char LOG_DS_PRECISIONS[] = "利用可能サンプリング精度";
const char LOG_DS_PRIMARY_BITS[] = " プライマリ １６bit = %s  ８bit = %s ";
const char LOG_DS_SECONDARY_BITS[] = " セカンダリ １６bit = %s  ８bit = %s ";
const char LOG_DS_CHANNELS[] = "利用可能チャンネル";
const char LOG_DS_PRIMARY_CHANNELS[] = " プライマリ MONO = %s  STEREO = %s ";
const char LOG_DS_SECONDARY_CHANNELS[] = " セカンダリ MONO = %s  STEREO = %s ";
const char LOG_DEVICE_CHANNELS[] = "チャンネル数:%d";
const char LOG_DEVICE_BITS[] = "ビット精度:%dbit";
const char LOG_DEVICE_RATE[] = "サンプリングレート:%dHz";
const char LOG_XAUDIO2_INIT[] = "XAudio2 の初期化を行います";
const char LOG_XAUDIO2_INIT_DONE[] = "XAudio2 の初期化は正常に終了しました";
const char LOG_DS_INIT_DONE[] = "DirectSound の初期化は正常に終了しました";
const char LOG_THREAD_STUCK[] = "サウンドスレッドが終了しません";
const char LOG_DS_END_DONE[] = "DirectSound の終了処理は正常に終了しました";
const wchar_t LOG_DEVICE_NAME[] = L"デバイス名：%s";
const char LOG_DS8_INIT[] = "DirectSound8 の初期化を行います";
const char LOG_DM_LOADER[] = "DirectMusicLoader8 オブジェクトの作成に失敗しました";
const char LOG_DM_FALL_BACK[] = "前バージョンでの初期化処理に移ります";
const char LOG_DM_PERFORMANCE[] = "DirectMusicPerformance オブジェクトの作成に失敗しました";
const char LOG_DM_DIRECTMUSIC[] = "DirectMusic オブジェクトの取得に失敗しました";
const char LOG_DM_DIRECTMUSIC8[] = "DirectMusic8 オブジェクトの取得に失敗しました";
const char LOG_DM_PORT[] = "%s  Device%d:%s ";
const char LOG_DM_OUTPUT_PORT[] = "出力ポート";
const char LOG_DM_INPUT_PORT[] = "入力ポート";
const char LOG_DM_INIT_AUDIO[] = "DirectMusicPerformanceオブジェクトの初期化に失敗しました";
}  // namespace

SoundSystemState SoundSystem;
int (*SoundProcessorCountSource)() = nullptr;

namespace {
const GUID SoundClsidXAudio27 = {0x5a508685, 0xa254, 0x4fba, {0x9b, 0x82, 0x9a, 0x24, 0xb0, 0x03, 0x06, 0xaf}};
const GUID SoundIidXAudio27 = {0x8bcf1f58, 0x9fe7, 0x4583, {0x8a, 0xc6, 0xe2, 0xad, 0xc4, 0x65, 0xc8, 0xbb}};
const GUID SoundClsidDirectSound = {0x47d4d946, 0x62e8, 0x11cf, {0x93, 0xbc, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID SoundIidDirectSound = {0x279afa83, 0x4981, 0x11ce, {0xa5, 0x21, 0x00, 0x20, 0xaf, 0x0b, 0xe5, 0x60}};
}  // namespace

int SetSoundOutputMode(int mode) {
  if (mode != SOUND_OUTPUT_MODE_XAUDIO2 && mode != SOUND_OUTPUT_MODE_DIRECTMUSIC) return -1;
  if (SoundSystem.initialized) return -1;
  SoundSystem.outputMode = mode;
  return 0;
}

// X3DAudio entry points use the C calling convention.
typedef HRESULT(__cdecl* X3DAudioInitializeFunction)(UINT32 channelMask, float speedOfSound, void* instance);

int GetSoundOutputKind() {
  if (SoundSystem.xaudio28) return SOUND_OUTPUT_XAUDIO2_8;
  if (SoundSystem.xaudio27) return SOUND_OUTPUT_XAUDIO2_7;
  if (SoundSystem.directSound) return SOUND_OUTPUT_DIRECTSOUND;
  return SOUND_OUTPUT_NONE;
}

namespace {
int HasSoundOutput() { return GetSoundOutputKind() != SOUND_OUTPUT_NONE; }

HRESULT CallCoCreateInstance(const GUID& classId, DWORD context, const GUID& interfaceId, void** object) {
  *object = nullptr;
  if (SystemLibs.CoCreateInstanceFunc == nullptr) return E_FAIL;
  return SystemLibs.CoCreateInstanceFunc(classId, nullptr, context, interfaceId, object);
}

void FreeXAudioModules() {
  if (SoundSystem.xaudio28Module) FreeLibrary(SoundSystem.xaudio28Module);
  SoundSystem.xaudio28Module = nullptr;
  SoundSystem.XAudio2CreateFunc = nullptr;
  SoundSystem.CreateAudioVolumeMeterFunc = nullptr;
  SoundSystem.CreateAudioReverbFunc = nullptr;
  if (SoundSystem.x3dAudioModule) FreeLibrary(SoundSystem.x3dAudioModule);
  SoundSystem.x3dAudioModule = nullptr;
  SoundSystem.X3DAudioInitializeFunc = nullptr;
  SoundSystem.X3DAudioCalculateFunc = nullptr;
}

void* ProcAddress(HMODULE module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

// XAudio2 2.8 from its DLL. 0 started, -1 fall back.
int StartXAudio28() {
  LogPrintf(LOG_USING_XAUDIO28);
  HMODULE module = SoundSystem.xaudio28Module;
  SoundSystem.XAudio2CreateFunc = reinterpret_cast<HRESULT(WINAPI*)(IXAudio2**, UINT32, XAUDIO2_PROCESSOR)>(
      ProcAddress(module, "XAudio2Create"));
  SoundSystem.CreateAudioVolumeMeterFunc = ProcAddress(module, "CreateAudioVolumeMeter");
  SoundSystem.CreateAudioReverbFunc = ProcAddress(module, "CreateAudioReverb");
  SoundSystem.X3DAudioInitializeFunc = ProcAddress(module, "X3DAudioInitialize");
  SoundSystem.X3DAudioCalculateFunc = ProcAddress(module, "X3DAudioCalculate");
  LogPrintf(LOG_XAUDIO2_CREATE);
  IXAudio2* engine = nullptr;
  IXAudio2MasteringVoice* master = nullptr;
  HRESULT hr = SoundSystem.XAudio2CreateFunc ? SoundSystem.XAudio2CreateFunc(&engine, 0, XAUDIO2_DEFAULT_PROCESSOR)
                                             : E_FAIL;
  if (FAILED(hr)) {
    LogPrintf(LOG_INIT_FAILED);
    LogPrintf(LOG_ERROR_CODE, static_cast<unsigned int>(hr));
    goto refuse;
  }
  LogPrintf(LOG_SUCCESS_28);
  hr = engine->CreateMasteringVoice(&master, XAUDIO2_DEFAULT_CHANNELS, SoundSystem.masterSampleRate, 0, nullptr,
                                    nullptr, AudioCategory_GameEffects);
  if (FAILED(hr) || master == nullptr) {
    LogPrintf(LOG_MASTERING_VOICE);
    goto refuse;
  }
  SoundSystem.xaudio28 = engine;
  SoundSystem.master28 = master;
  return 0;

refuse:
  if (engine != nullptr) engine->Release();
  return -1;
}

// XAudio2 2.7 through COM, with X3DAudio. 0 started, -1 fall back.
int StartXAudio27() {
  LogPrintf(LOG_XAUDIO2_GET);
  RiDov::D_IXAudio2_27* engine = nullptr;
  IXAudio2MasteringVoice* master = nullptr;
  HRESULT hr = CallCoCreateInstance(SoundClsidXAudio27, CLSCTX_ALL, SoundIidXAudio27,
                                    reinterpret_cast<void**>(&engine));
  if (FAILED(hr) || engine == nullptr) {
    LogPrintf(LOG_XAUDIO2_GET_FAILED);
    goto refuse;
  }
  LogPrintf(LOG_SUCCESS_VERSION, 7);
  LogPrintf(LOG_CONTINUE_INIT);
  hr = engine->Initialize(0, XAUDIO2_DEFAULT_PROCESSOR);
  if (FAILED(hr)) {
    LogPrintf(LOG_INIT_FAILED);
    LogPrintf(LOG_ERROR_CODE, static_cast<unsigned int>(hr));
    goto refuse;
  }
  LogPrintf(LOG_SUCCESS);
  LogPrintf(LOG_X3DAUDIO_LOAD);
  SoundSystem.x3dAudioModule = LoadLibraryA("X3DAudio1_7.dll");
  if (SoundSystem.x3dAudioModule == nullptr) {
    LogPrintf(LOG_X3DAUDIO_FAILED);
    goto refuse;
  }
  LogPrintf(LOG_SUCCESS);
  SoundSystem.X3DAudioInitializeFunc = ProcAddress(SoundSystem.x3dAudioModule, "X3DAudioInitialize");
  SoundSystem.X3DAudioCalculateFunc = ProcAddress(SoundSystem.x3dAudioModule, "X3DAudioCalculate");
  hr = engine->CreateMasteringVoice(&master, XAUDIO2_DEFAULT_CHANNELS, SoundSystem.masterSampleRate, 0, 0, nullptr);
  if (FAILED(hr) || master == nullptr) {
    LogPrintf(LOG_MASTERING_VOICE);
    goto refuse;
  }
  SoundSystem.xaudio27 = engine;
  SoundSystem.master27 = master;
  return 0;

refuse:
  if (SoundSystem.x3dAudioModule != nullptr) FreeLibrary(SoundSystem.x3dAudioModule);
  SoundSystem.x3dAudioModule = nullptr;
  SoundSystem.X3DAudioInitializeFunc = nullptr;
  SoundSystem.X3DAudioCalculateFunc = nullptr;
  if (engine != nullptr) engine->Release();
  return -1;
}

void ReleaseDirectSound() {
  if (SoundSystem.primaryBuffer) SoundSystem.primaryBuffer->Release();
  SoundSystem.primaryBuffer = nullptr;
  if (SoundSystem.directSound) SoundSystem.directSound->Release();
  SoundSystem.directSound = nullptr;
}

int StartDirectSound() {
  LogPrintf(LOG_DS_INIT);
  LogPrintf(LOG_DS_GET);
  IDirectSound* ds = nullptr;
  HRESULT hr = CallCoCreateInstance(SoundClsidDirectSound, CLSCTX_ALL, SoundIidDirectSound,
                                    reinterpret_cast<void**>(&ds));
  if (FAILED(hr) || ds == nullptr) {
    LogPrintf(LOG_DS_GET_FAILED);
    return -1;
  }
  LogPrintf(LOG_SUCCESS);
  LogPrintf(LOG_CONTINUE_INIT);
  hr = ds->Initialize(nullptr);
  if (FAILED(hr)) {
    LogPrintf(LOG_INIT_FAILED);
    LogPrintf(LOG_ERROR_CODE, static_cast<unsigned int>(hr));
    ds->Release();
    return -1;
  }
  LogPrintf(LOG_SUCCESS);
  SoundSystem.directSound = ds;
  if (FAILED(ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY))) {
    LogPrintf(LOG_DS_COOPERATIVE);
    ReleaseDirectSound();
    return -1;
  }
  DSBUFFERDESC description;
  memset(&description, 0, sizeof(description));
  description.dwSize = sizeof(description);
  description.dwFlags = DSBCAPS_PRIMARYBUFFER | (SoundSystem.softwareBuffer ? DSBCAPS_LOCSOFTWARE : 0);
  if (FAILED(ds->CreateSoundBuffer(&description, &SoundSystem.primaryBuffer, nullptr))) {
    SoundSystem.primaryBuffer = nullptr;
    LogPrintf(LOG_DS_PRIMARY);
    ReleaseDirectSound();
    return -1;
  }
  DSCAPS caps;
  memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(caps);
  ds->GetCaps(&caps);
  WAVEFORMATEX format;
  const int rate = caps.dwMaxSecondarySampleRate < 44100 && caps.dwMaxSecondarySampleRate > 0
                       ? static_cast<int>(caps.dwMaxSecondarySampleRate)
                       : 44100;
  FillPcmWaveFormat(&format, (caps.dwFlags & DSCAPS_PRIMARYSTEREO) ? 2 : 1,
                    (caps.dwFlags & DSCAPS_PRIMARY16BIT) ? 16 : 8, rate);
  if (FAILED(SoundSystem.primaryBuffer->SetFormat(&format))) LogPrintf(LOG_DS_PRIMARY_FORMAT);
  return 0;
}

void ReleaseDirectMusic() {
  if (SoundSystem.musicPerformance) {
    SoundSystem.musicPerformance->Stop(nullptr, nullptr, 0, 0);
    SoundSystem.musicPerformance->CloseDown();
    SoundSystem.musicPerformance->Release();
    SoundSystem.musicPerformance = nullptr;
  }
  if (SoundSystem.musicLoader) SoundSystem.musicLoader->Release();
  SoundSystem.musicLoader = nullptr;
}

// Ends a DirectMusic start that failed part way: what it made is released.
int FailDirectMusic(const char* message) {
  LogPrintf(message);
  ReleaseDirectMusic();
  ReleaseDirectSound();
  return -1;
}

enum { LOG_CODE_PAGE = 932 };

// Logs every port DirectMusic lists, as long as it answers S_OK.
void LogDirectMusicPorts(IDirectMusic8* music) {
  for (DWORD index = 0;; index++) {
    DMUS_PORTCAPS caps;
    memset(&caps, 0, sizeof(caps));
    caps.dwSize = sizeof(caps);
    if (music->EnumPort(index, &caps) != S_OK) break;
    // In the log's code page, as every wide text of the log.
    char description[DMUS_MAX_DESCRIPTION * 2 + 1] = {};
    if (WideToMultiByte(LOG_CODE_PAGE, caps.wszDescription, description, sizeof(description) - 1) <= 0)
      description[0] = '\0';
    LogPrintf(LOG_DM_PORT, caps.dwClass == DMUS_PC_OUTPUTCLASS ? LOG_DM_OUTPUT_PORT : LOG_DM_INPUT_PORT,
              static_cast<int>(index), description);
  }
}

enum { DIRECT_MUSIC_CHANNELS = 64, DIRECT_MUSIC_RATE = 44100, DIRECT_MUSIC_FALL_BACK = 1 };

// Output mode 1: the DirectMusic loader and performance, whose audio set-up
// makes the DirectSound output. 0 started; DIRECT_MUSIC_FALL_BACK when no
// loader can be made; -1 failed, with nothing left.
int StartDirectMusic() {
  LogPrintf(LOG_DS8_INIT);
  HRESULT hr = CallCoCreateInstance(CLSID_DirectMusicLoader, CLSCTX_INPROC, IID_IDirectMusicLoader8,
                                    reinterpret_cast<void**>(&SoundSystem.musicLoader));
  if (FAILED(hr) || SoundSystem.musicLoader == nullptr) {
    SoundSystem.musicLoader = nullptr;
    LogPrintf(LOG_DM_LOADER);
    LogPrintf(LOG_DM_FALL_BACK);
    return DIRECT_MUSIC_FALL_BACK;
  }
  hr = CallCoCreateInstance(CLSID_DirectMusicPerformance, CLSCTX_INPROC, IID_IDirectMusicPerformance8,
                            reinterpret_cast<void**>(&SoundSystem.musicPerformance));
  if (FAILED(hr) || SoundSystem.musicPerformance == nullptr) {
    SoundSystem.musicPerformance = nullptr;
    return FailDirectMusic(LOG_DM_PERFORMANCE);
  }
  IDirectMusic* music = nullptr;
  hr = CallCoCreateInstance(CLSID_DirectMusic, CLSCTX_INPROC_SERVER, IID_IDirectMusic,
                            reinterpret_cast<void**>(&music));
  if (FAILED(hr) || music == nullptr) return FailDirectMusic(LOG_DM_DIRECTMUSIC);
  IDirectMusic8* music8 = nullptr;
  hr = music->QueryInterface(IID_IDirectMusic8, reinterpret_cast<void**>(&music8));
  if (FAILED(hr) || music8 == nullptr) {
    music->Release();
    return FailDirectMusic(LOG_DM_DIRECTMUSIC8);
  }
  LogDirectMusicPorts(music8);
  music8->Release();
  music->Release();

  DMUS_AUDIOPARAMS params;
  memset(&params, 0, sizeof(params));
  params.dwSize = sizeof(params);
  params.fInitNow = TRUE;
  params.dwValidData = DMUS_AUDIOPARAMS_FEATURES | DMUS_AUDIOPARAMS_SAMPLERATE;
  params.dwFeatures = DMUS_AUDIOF_ALL;
  params.dwSampleRate = DIRECT_MUSIC_RATE;
  SoundSystem.directSound = nullptr;
  hr = SoundSystem.musicPerformance->InitAudio(nullptr, &SoundSystem.directSound, nullptr,
                                               DMUS_APATH_SHARED_STEREOPLUSREVERB, DIRECT_MUSIC_CHANNELS,
                                               DMUS_AUDIOF_ALL, &params);
  if (FAILED(hr) || SoundSystem.directSound == nullptr) return FailDirectMusic(LOG_DM_INIT_AUDIO);
  long volume = 0;
  if (SUCCEEDED(SoundSystem.musicPerformance->GetGlobalParam(GUID_PerfMasterVolume, &volume, sizeof(volume))))
    SoundSystem.musicMasterVolume = static_cast<int>(volume);
  return 0;
}

BOOL CALLBACK LogDirectSoundDevice(LPGUID, LPCSTR description, LPCSTR module, LPVOID) {
  LogPrintf(LOG_DS_DEVICE, module ? module : "", description ? description : "");
  return TRUE;
}

void CreateSilentBuffer() {
  WAVEFORMATEX format;
  FillPcmWaveFormat(&format, 2, 16, 44100);
  DSBUFFERDESC description;
  memset(&description, 0, sizeof(description));
  description.dwSize = sizeof(description);
  description.dwFlags = DSBCAPS_GLOBALFOCUS | (SoundSystem.softwareBuffer ? DSBCAPS_LOCSOFTWARE : DSBCAPS_STATIC);
  description.dwBufferBytes = 400;
  description.lpwfxFormat = &format;
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(SoundSystem.directSound->CreateSoundBuffer(&description, &buffer, nullptr)) || buffer == nullptr) {
    LogPrintf(LOG_SILENCE_CREATE);
    return;
  }
  void* p1 = nullptr;
  void* p2 = nullptr;
  DWORD s1 = 0, s2 = 0;
  if (FAILED(buffer->Lock(0, 400, &p1, &s1, &p2, &s2, 0))) {
    LogPrintf(LOG_SILENCE_LOCK);
    buffer->Release();
    return;
  }
  if (p1) memset(p1, 0, s1);
  if (p2) memset(p2, 0, s2);
  buffer->Unlock(p1, s1, p2, s2);
  buffer->Play(0, 0, DSBPLAY_LOOPING);
  SoundSystem.silentBuffer = buffer;
}

void LogDirectSoundDetails() {
  DSCAPS caps;
  memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(caps);
  SoundSystem.directSound->GetCaps(&caps);
  LogPrintf(LOG_DS_ENUMERATE);
  HMODULE dll = LoadLibraryA("DSOUND.DLL");
  if (dll == nullptr) {
    LogPrintf(LOG_DSOUND_LOAD);
  } else {
    typedef HRESULT(WINAPI * EnumerateFunction)(LPDSENUMCALLBACKA, LPVOID);
    EnumerateFunction enumerate = reinterpret_cast<EnumerateFunction>(ProcAddress(dll, "DirectSoundEnumerateA"));
    if (enumerate == nullptr) {
      LogPrintf(LOG_DS_ENUMERATE_PROC);
    } else {
      enumerate(LogDirectSoundDevice, nullptr);
    }
  }
  LogPrintf(LOG_DS_RATES, caps.dwMaxSecondarySampleRate / 1000.0, caps.dwMinSecondarySampleRate / 1000.0);
  LogPrintf(LOG_DS_MEMORY, caps.dwTotalHwMemBytes / 1024.0, caps.dwFreeHwMemBytes / 1024.0);
  LogPrintf(LOG_DS_PRECISIONS);
  LogPrintf(LOG_DS_PRIMARY_BITS, (caps.dwFlags & DSCAPS_PRIMARY16BIT) ? "OK" : "NO",
            (caps.dwFlags & DSCAPS_PRIMARY8BIT) ? "OK" : "NO");
  LogPrintf(LOG_DS_SECONDARY_BITS, (caps.dwFlags & DSCAPS_SECONDARY16BIT) ? "OK" : "NO",
            (caps.dwFlags & DSCAPS_SECONDARY8BIT) ? "OK" : "NO");
  LogPrintf(LOG_DS_CHANNELS);
  LogPrintf(LOG_DS_PRIMARY_CHANNELS, (caps.dwFlags & DSCAPS_PRIMARYMONO) ? "OK" : "NO",
            (caps.dwFlags & DSCAPS_PRIMARYSTEREO) ? "OK" : "NO");
  LogPrintf(LOG_DS_SECONDARY_CHANNELS, (caps.dwFlags & DSCAPS_SECONDARYMONO) ? "OK" : "NO",
            (caps.dwFlags & DSCAPS_SECONDARYSTEREO) ? "OK" : "NO");
  if (dll) FreeLibrary(dll);
}

int CountBits(unsigned int mask) {
  int count = 0;
  for (; mask; mask &= mask - 1) count++;
  return count;
}

void ReadXAudioOutputDetails() {
  if (SoundSystem.xaudio27) {
    RiDov::D_XAUDIO2_DEVICE_DETAILS details;
    memset(&details, 0, sizeof(details));
    if (SUCCEEDED(SoundSystem.xaudio27->GetDeviceDetails(0, &details))) {
      LogIndentIn();
      LogPrintfWide(LOG_DEVICE_NAME, details.DisplayName);
      LogPrintf(LOG_DEVICE_CHANNELS, details.OutputFormat.Format.nChannels);
      LogPrintf(LOG_DEVICE_BITS, details.OutputFormat.Format.wBitsPerSample);
      LogPrintf(LOG_DEVICE_RATE, static_cast<int>(details.OutputFormat.Format.nSamplesPerSec));
      LogIndentOut();
      SoundSystem.channelMask = details.OutputFormat.dwChannelMask;
      SoundSystem.channelCount = details.OutputFormat.Format.nChannels;
    }
  } else {
    DWORD mask = 0;
    SoundSystem.master28->GetChannelMask(&mask);
    SoundSystem.channelMask = mask;
    SoundSystem.channelCount = CountBits(mask);
  }
  if (SoundSystem.X3DAudioInitializeFunc) {
    reinterpret_cast<X3DAudioInitializeFunction>(SoundSystem.X3DAudioInitializeFunc)(SoundSystem.channelMask, 343.5f,
                                                                                     SoundSystem.x3dInstance);
  }
}
}  // namespace

int InitSoundHandleRecord(HandleRecordHeader* record);
int ReleaseSoundHandleRecord(HandleRecordHeader* record);

namespace {
int IsSoftSoundPlayer(HandleRecordHeader* record) { return reinterpret_cast<SoftSoundRecord*>(record)->isPlayer != 0; }
int IsSoftSoundData(HandleRecordHeader* record) { return reinterpret_cast<SoftSoundRecord*>(record)->isPlayer == 0; }

int LogicalProcessorCount() {
  if (SoundProcessorCountSource) return SoundProcessorCountSource();
  int count = GetProcessorCount();
  if (count > 0) return count;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

DWORD WINAPI SoundThreadProc(LPVOID);
}  // namespace

int InitializeSound() {
  if (SoundSystem.initialized || HasSoundOutput()) return -1;
  if (SoundSystem.masterSampleRate == 0) SoundSystem.masterSampleRate = 44100;
  ResetSound3DListener(&SoundSystem.listener);

  int xaudioStarted = 0;
  if (SoundSystem.outputMode == 0 && !SoundSystem.xaudio2Off) {
    LogPrintf(LOG_XAUDIO2_INIT);
    LogIndentIn();
    SoundSystem.xaudio28Module = LoadLibraryA("XAudio2_8.dll");
    int result = SoundSystem.xaudio28Module ? StartXAudio28() : StartXAudio27();
    if (result == 0) {
      xaudioStarted = 1;
      BuildReverbPresetTables();
      ReadXAudioOutputDetails();
    } else {
      FreeXAudioModules();
      SoundSystem.xaudio2Off = 1;
      LogIndentOut();
    }
  } else {
    SoundSystem.xaudio2Off = 1;
  }
  if (!xaudioStarted) {
    if (SoundSystem.outputMode == SOUND_OUTPUT_MODE_DIRECTMUSIC) {
      int result = StartDirectMusic();
      if (result == DIRECT_MUSIC_FALL_BACK) {
        SoundSystem.outputMode = SOUND_OUTPUT_MODE_XAUDIO2;
        return InitializeSound();
      }
      if (result != 0) return -1;
    } else if (StartDirectSound() != 0) {
      return -1;
    }
    CreateSilentBuffer();
    LogDirectSoundDetails();
  }
  if (SoundSystem.xaudio28) {
    SoundSystem.playBackend = &XAudio28PlayBackend;
  } else if (SoundSystem.xaudio27) {
    SoundSystem.playBackend = &XAudio27PlayBackend;
  } else {
    SoundSystem.playBackend = &DirectSoundPlayBackend;
  }

  InitHandleType(HANDLETYPE_SOUND, sizeof(SoundRecord), 32768, InitSoundHandleRecord, ReleaseSoundHandleRecord,
                 "サウンド");
  InitHandleType(HANDLETYPE_SOFTSOUND, sizeof(SoftSoundRecord), 8192, ReturnZero, ReleaseSoftSoundHandleRecord,
                 "ソフトサウンド");
  InitHandleType(HANDLETYPE_MUSIC, sizeof(MusicRecord), 256, InitMusicHandleRecord, ReleaseMusicHandleRecord,
                 "ミュージック");
  SoundSystem.loadSettings.loadMethod = SOUND_LOAD_DECODE;
  SoundSystem.loadSettings.oggBytesPerSample = 2;
  HandleListInit(&SoundSystem.streamHead, &SoundSystem.streamTail);
  HandleListInit(&SoundSystem.softPlayerHead, &SoundSystem.softPlayerTail);
  HandleListInit(&SoundSystem.deleteHead, &SoundSystem.deleteTail);
  HandleListInit(&SoundSystem.playing3DHead, &SoundSystem.playing3DTail);
  SoundSystem.libraryMusicHandle = -1;
  SoundSystem.midi.handle = -1;
  SoundSystem.initialized = 1;

  DeleteAllHandlesOfType(HANDLETYPE_SOUND, nullptr);
  DeleteAllHandlesOfType(HANDLETYPE_SOFTSOUND, IsSoftSoundPlayer);
  DeleteAllHandlesOfType(HANDLETYPE_SOFTSOUND, IsSoftSoundData);

  SoundSystem.threadStop = 0;
  SoundSystem.thread = nullptr;
  if (LogicalProcessorCount() > 1) {
    SoundSystem.thread = CreateThread(nullptr, 0, SoundThreadProc, nullptr, CREATE_SUSPENDED, &SoundSystem.threadId);
    if (SoundSystem.thread) {
      SetThreadPriority(SoundSystem.thread, THREAD_PRIORITY_TIME_CRITICAL);
      ResumeThread(SoundSystem.thread);
    }
  }

  if (xaudioStarted) {
    LogIndentOut();
    LogPrintf(LOG_XAUDIO2_INIT_DONE);
  } else {
    LogPrintf(LOG_DS_INIT_DONE);
  }
  return 0;
}

// Waits for the sound thread: bounded, whatever the pump reports (the
// window may have closed). The thread ends within one 10 ms pass; only a
// longer wait pumps the window's messages meanwhile, so that a normal end
// handles no message in the middle of the shut-down.
namespace {
void StopSoundThread() {
  if (SoundSystem.thread == nullptr) return;
  InterlockedExchange(&SoundSystem.threadStop, 1);
  if (WaitForSingleObject(SoundSystem.thread, 100) != WAIT_OBJECT_0) {
    for (int waited = 100; waited < 10000; waited += 2) {
      PumpWindowMessagesCore();
      if (WaitForSingleObject(SoundSystem.thread, 2) == WAIT_OBJECT_0) break;
    }
  }
  if (WaitForSingleObject(SoundSystem.thread, 0) != WAIT_OBJECT_0) LogPrintf(LOG_THREAD_STUCK);
  CloseHandle(SoundSystem.thread);
  SoundSystem.thread = nullptr;
}
}  // namespace

int TerminateSound() {
  if (!SoundSystem.initialized || !HasSoundOutput()) return -1;
  StopSoundThread();
  // An open capture file gets its header and is closed.
  WriteWaveFile();

  DeleteAllHandlesOfType(HANDLETYPE_SOUND, nullptr);
  DeleteAllHandlesOfType(HANDLETYPE_SOFTSOUND, IsSoftSoundPlayer);
  DeleteAllHandlesOfType(HANDLETYPE_SOFTSOUND, IsSoftSoundData);
  DeleteAllHandlesOfType(HANDLETYPE_MUSIC, nullptr);
  TermHandleType(HANDLETYPE_SOUND);
  TermHandleType(HANDLETYPE_SOFTSOUND);
  TermHandleType(HANDLETYPE_MUSIC);
  ReleaseDirectMusic();
  SoundSystem.playBackend = nullptr;

  if (!SoundSystem.xaudio2Off || SoundSystem.xaudio28 || SoundSystem.xaudio27) {
    if (SoundSystem.master27) SoundSystem.master27->DestroyVoice();
    SoundSystem.master27 = nullptr;
    if (SoundSystem.master28) SoundSystem.master28->DestroyVoice();
    SoundSystem.master28 = nullptr;
    if (SoundSystem.xaudio27) SoundSystem.xaudio27->Release();
    SoundSystem.xaudio27 = nullptr;
    if (SoundSystem.xaudio28) SoundSystem.xaudio28->Release();
    SoundSystem.xaudio28 = nullptr;
    FreeXAudioModules();
    SoundSystem.initialized = 0;
    return 0;
  }
  if (SoundSystem.primaryBuffer) SoundSystem.primaryBuffer->Stop();
  if (SoundSystem.silentBuffer) {
    SoundSystem.silentBuffer->Stop();
    SoundSystem.silentBuffer->Release();
    SoundSystem.silentBuffer = nullptr;
  }
  ReleaseDirectSound();
  LogPrintf(LOG_DS_END_DONE);
  SoundSystem.initialized = 0;
  return 0;
}

void StopLibraryMusic() {
  if (SoundSystem.libraryMusicHandle == -1 || SoundSystem.libraryMusicHandle == 0) return;
  if (SoundSystem.libraryMusicKind == 1) {
    StopSoundHandle(SoundSystem.libraryMusicHandle);
  }
  DeleteHandle(SoundSystem.libraryMusicHandle);
  SoundSystem.libraryMusicHandle = -1;
}

// ---------------------------------------------------------------------------
// Sound thread and upkeep.

namespace {
LockRecord* SoundLock() { return &HandleManagers[HANDLETYPE_SOUND].lock; }
LockRecord* SoftSoundLock() { return &HandleManagers[HANDLETYPE_SOFTSOUND].lock; }
}  // namespace

int ProcessAllStreamSounds() {
  if (!HasSoundOutput()) return -1;
  ENTER_LOCK(SoundLock());
  for (HandleListNode* node = SoundSystem.streamHead.next; node && node->next; node = node->next) {
    SoundRecord* sound = static_cast<SoundRecord*>(node->owner);
    if (sound->stream.prepared) RefillStreamSound(node->data, 0);
  }
  LeaveLock(SoundLock());
  return 0;
}

int DeleteStoppedAutoDeleteSounds() {
  if (!HasSoundOutput()) return -1;
  ENTER_LOCK(SoundLock());
  HandleListNode* node = SoundSystem.deleteHead.next;
  while (node && node->next) {
    if (IsSoundHandlePlaying(node->data) == 0) {
      DeleteHandle(node->data);
      node = SoundSystem.deleteHead.next;
    } else {
      node = node->next;
    }
  }
  LeaveLock(SoundLock());
  return 0;
}

int UpdateReverbFade(int* state, int* startTime, int playing, int now) {
  if (playing) return 1;
  if (*state == 1) {
    *state = 2;
    *startTime = now;
    return 1;
  }
  if (*state == 2) {
    int elapsed = (now - *startTime) & 0x7FFFFFFF;
    if (elapsed < 3000) return 1;
    *state = 0;
  }
  return 0;
}

// 3-D sounds keep their reverb fading after their buffers stop: a sound
// leaves the playing-3-D list once none of its buffers is active.
int UpdateSoundStopWaitList() {
  if (!HasSoundOutput()) return -1;
  ENTER_LOCK(SoundLock());
  int now = GetMillisecondCount();
  HandleListNode* node = SoundSystem.playing3DHead.next;
  while (node != nullptr && node->next != nullptr) {
    SoundRecord* sound = static_cast<SoundRecord*>(node->owner);
    int active = 0;
    for (int i = 0; i < sound->bufferCount; i++) {
      if (IsPlayBufferReverbActive(&sound->buffers[i], now)) active = 1;
    }
    if (active) {
      node = node->next;
    } else {
      RemoveFromPlaying3DList(sound);
      node = SoundSystem.playing3DHead.next;
    }
  }
  LeaveLock(SoundLock());
  return 0;
}


namespace {
DWORD WINAPI SoundThreadProc(LPVOID) {
  while (SoundSystem.initialized && InterlockedCompareExchange(&SoundSystem.threadStop, 0, 0) != 1) {
    ENTER_LOCK(SoundLock());
    ProcessAllStreamSounds();
    DeleteStoppedAutoDeleteSounds();
    UpdateSoundStopWaitList();
    LeaveLock(SoundLock());
    ENTER_LOCK(SoftSoundLock());
    if (HasSoundOutput()) UpdateAllSoftSoundPlayers();
    LeaveLock(SoftSoundLock());
    Sleep(10);
  }
  InterlockedExchange(&SoundSystem.threadStop, 2);
  return 0;
}
}  // namespace
