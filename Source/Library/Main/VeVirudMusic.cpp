// Music handles (type 5): MIDI data kept in the record and played through
// the MCI sequencer from a temporary file; the end notification restarts a
// looping piece or closes the device.
// Threads: main thread (MCI notifications arrive at the main window).
// Platform: mciSendCommandA (MCI_OPEN, MCI_PLAY, MCI_CLOSE), GetTempPathA,
// GetTempFileNameA, CreateFileA, WriteFile, DeleteFileA.
#include <windows.h>
#include <mmsystem.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {

const char LOG_MUSIC_ALLOC[] = "ミュージックデータを格納するメモリの確保に失敗しました";
const char LOG_MIDI_TEMP[] = "MIDI再生用の一時ファイルの作成に失敗しました";
const char LOG_MIDI_OPEN[] = "MCIシーケンサーのオープンに失敗しました (エラー %u)";
const char LOG_MIDI_PLAY[] = "MIDIの再生に失敗しました (エラー %u)";

enum { MUSIC_MARK = 255, STOP_PUMP_PASSES = 5 };

MusicRecord* GetMusicRecord(int handle) {
  if (!HandleManagers[HANDLETYPE_MUSIC].initialized) return nullptr;
  return reinterpret_cast<MusicRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_MUSIC));
}

void DeleteTempMidiFile() {
  MidiPlayState* m = &SoundSystem.midi;
  if (!m->tempFile) return;
  DeleteFileA(m->tempPath);
  m->tempFile = 0;
  m->tempPath[0] = '\0';
}

int WriteTempMidiFile(const MusicRecord* music) {
  MidiPlayState* m = &SoundSystem.midi;
  char folder[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(folder), folder);
  if (length == 0 || length >= sizeof(folder) || GetTempFileNameA(folder, "mid", 0, m->tempPath) == 0) return -1;
  m->tempFile = 1;
  HANDLE file = CreateFileA(m->tempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteTempMidiFile();
    return -1;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file, music->midiData, music->midiSize, &written, nullptr);
  CloseHandle(file);
  if (!ok || written != music->midiSize) {
    DeleteTempMidiFile();
    return -1;
  }
  return 0;
}

MCIERROR PlayFromStart() {
  MCI_PLAY_PARMS play;
  memset(&play, 0, sizeof(play));
  play.dwCallback = reinterpret_cast<DWORD_PTR>(GetMainWindowHandle());
  play.dwFrom = 0;
  return mciSendCommandA(SoundSystem.midi.deviceId, MCI_PLAY, MCI_NOTIFY | MCI_FROM,
                         reinterpret_cast<DWORD_PTR>(&play));
}

void CloseMidiDevice() {
  MidiPlayState* m = &SoundSystem.midi;
  if (m->deviceId != 0) mciSendCommandA(m->deviceId, MCI_CLOSE, 0, 0);
  m->deviceId = 0;
  m->playing = 0;
}

}  // namespace

int InitMusicHandleRecord(HandleRecordHeader* record) {
  reinterpret_cast<MusicRecord*>(record)->mark = MUSIC_MARK;
  return 0;
}

int ReleaseMusicHandleRecord(HandleRecordHeader* record) {
  MusicRecord* music = reinterpret_cast<MusicRecord*>(record);
  if (SoundSystem.midi.handle == record->handle && SoundSystem.midi.handle != -1) StopMusicHandle(record->handle);
  if (music->midiData != nullptr) {
    memset(music->midiData, 0, music->midiSize);
    MemFree(music->midiData);
  }
  music->midiData = nullptr;
  music->midiSize = 0;
  return 0;
}

int LoadMusicMemory(const void* data, int size) {
  if (data == nullptr || size <= 0) return -1;
  int handle = CreateHandle(HANDLETYPE_MUSIC, -1);
  if (handle == -1) return -1;
  MusicRecord* music = GetMusicRecord(handle);
  music->midiData = MEM_ALLOC(static_cast<size_t>(size));
  if (music->midiData == nullptr) {
    LogPrintf(LOG_MUSIC_ALLOC);
    DeleteHandle(handle);
    return -1;
  }
  memcpy(music->midiData, data, static_cast<size_t>(size));
  music->midiSize = static_cast<unsigned int>(size);
  return handle;
}

int LoadMusicFile(const char* path) {
  void* data = nullptr;
  int size = 0;
  if (LoadWholeFile(path, &data, &size) != 0) return -1;
  int handle = LoadMusicMemory(data, size);
  MemFree(data);
  return handle;
}

int PlayMusicHandle(int handle, int loop) {
  MusicRecord* music = GetMusicRecord(handle);
  if (music == nullptr) return -1;
  // One piece at a time: whatever plays now is stopped first.
  if (SoundSystem.midi.handle != -1) StopMusicHandle(SoundSystem.midi.handle);
  MidiPlayState* m = &SoundSystem.midi;
  if (WriteTempMidiFile(music) != 0) {
    LogPrintf(LOG_MIDI_TEMP);
    return -1;
  }
  MCI_OPEN_PARMSA open;
  memset(&open, 0, sizeof(open));
  open.lpstrDeviceType = "sequencer";
  open.lpstrElementName = m->tempPath;
  MCIERROR error = mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open));
  if (error != 0) {
    LogPrintf(LOG_MIDI_OPEN, static_cast<unsigned>(error));
    DeleteTempMidiFile();
    return -1;
  }
  m->deviceId = open.wDeviceID;
  error = PlayFromStart();
  if (error != 0) {
    LogPrintf(LOG_MIDI_PLAY, static_cast<unsigned>(error));
    CloseMidiDevice();
    DeleteTempMidiFile();
    return -1;
  }
  m->loop = loop ? 1 : 0;
  m->playing = 1;
  m->handle = handle;
  music->playing = 1;
  music->seenPlaying = 1;
  return 0;
}

int HandleMidiPlayEnd() {
  MidiPlayState* m = &SoundSystem.midi;
  if (m->loop && m->deviceId != 0) {
    PlayFromStart();
    m->playing = 1;
  } else if (m->playing) {
    CloseMidiDevice();
    MusicRecord* music = m->handle != -1 ? GetMusicRecord(m->handle) : nullptr;
    if (music != nullptr) music->playing = 0;
  }
  return 0;
}

int StopMusicHandle(int handle) {
  MusicRecord* music = GetMusicRecord(handle);
  if (music == nullptr) return -1;
  MidiPlayState* m = &SoundSystem.midi;
  if (m->handle == handle) {
    m->loop = 0;
    HandleMidiPlayEnd();
    CloseMidiDevice();
    // Let a pending end notification arrive while nothing plays.
    if (GetMainWindowHandle() != nullptr) {
      for (int i = 0; i < STOP_PUMP_PASSES; i++) PumpWindowMessages();
    }
    DeleteTempMidiFile();
    m->handle = -1;
  }
  music->playing = 0;
  music->seenPlaying = 0;
  return 0;
}

int IsMusicHandlePlaying(int handle) {
  MusicRecord* music = GetMusicRecord(handle);
  if (music == nullptr) return -1;
  return SoundSystem.midi.handle == handle && SoundSystem.midi.playing ? 1 : 0;
}

// The play states are followed through MCI's notifications; there is no
// performance to ask.
int UpdateMusicPlayStates() { return -1; }
