// Movie handles (type 6): the handle type, the record lookup, the movie-load
// settings and frame callback, the open with the Theora road and its sound
// track (other files go to the DirectShow road, MuVevireGraph.cpp), the
// release, and playback control: the frame due by the clock or the sound
// position, loop and end, start, pause, and pause / resume of all movies.
// Threads and locks: everything runs on the main thread (the open may run on
// a loading worker); lookups take no lock; the Theora decoder has its own.
// Platform: IMediaControl Run / Pause of a movie's graph.
#include "MuVevire.h"

#include <dshow.h>

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

namespace {

const char LOG_OPEN_FAILED[] = "ムービーファイルオープン処理時にエラーが発生しました";
const char MOVIE_TYPE_NAME[] = "ムービー";

enum { SOUND_LOAD_STREAM_KIND = 3, SOUND_LOAD_DISABLE = -5, SOUND_LOAD_OGG_VARIANT = 1 };

int MovieSystemReady = 0;
MovieLoadSettings CurrentLoadSettings = {0, 0};

int64_t RealClock() { return GetMicrosecondCount(); }
int64_t (*MovieClock)() = RealClock;

const MovieSoundFunctions RealSound = {IsSoundHandlePlaying, GetSoundPlayPosition, PlaySoundHandle, StopSoundHandle};
MovieSoundFunctions Sound = RealSound;

bool SoundPlays(const MovieRecord* m) { return m->soundHandle != -1 && Sound.IsPlaying(m->soundHandle) == 1; }

}  // namespace

void SetMovieClockSource(int64_t (*clock)()) { MovieClock = clock != nullptr ? clock : RealClock; }

void SetMovieSoundFunctions(const MovieSoundFunctions* functions) {
  Sound = functions != nullptr ? *functions : RealSound;
}

int SetupMovieHandleType() {
  if (MovieSystemReady == 1) return -1;
  InitHandleType(HANDLETYPE_MOVIE, sizeof(MovieRecord), MOVIE_HANDLE_MAX, ReturnZero, ReleaseMovieRecord,
                 MOVIE_TYPE_NAME);
  MovieSystemReady = 1;
  return 0;
}

int EndMovieSystem() {
  if (MovieSystemReady == 0) return -1;
  TermHandleType(HANDLETYPE_MOVIE);
  MovieSystemReady = 0;
  return 0;
}

int CheckMovieSystemReady() { return MovieSystemReady ? 0 : -1; }

MovieRecord* GetMovieRecord(int handle) {
  if (!MovieSystemReady) return nullptr;
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_MOVIE);
  if (header == nullptr || header->asyncLoadCount != 0) return nullptr;
  return reinterpret_cast<MovieRecord*>(header);
}

void GetMovieLoadSettings(MovieLoadSettings* settings) { *settings = CurrentLoadSettings; }

int SetMovieFrameCallback(int handle, MovieFrameCallback callback, uint32_t parameter) {
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  m->frameCallback = callback;
  m->callbackParameter = parameter;
  return 0;
}

int CreateMovieFromFile(const MovieLoadSettings* settings, const char* fileName, int* width, int* height, int openMode,
                        int workerFlag) {
  int handle = CreateHandle(HANDLETYPE_MOVIE, -1);
  if (handle < 0) return -1;
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  m->rightHalfAlpha = settings->rightHalfAlpha;
  m->useAlpha = settings->useAlpha;
  m->soundHandle = -1;
  // Stopped from the start: a pause of all movies from the messages served
  // while the graph renders leaves the half-open graph alone.
  m->stopped = 1;
  m->stream = FileStreamOpen(fileName, 0, 1, 0);
  if (m->stream != 0) {
    m->decoder = OpenTheoraMovie(GetFileAccessTable(), m->stream, THEORA_MOVIE_STOCK_SIZE, workerFlag);
    if (m->decoder == nullptr) {
      FileStreamClose(m->stream);
      m->stream = 0;
    }
  }
  if (m->decoder != nullptr) {
    TheoraMovieInfo info;
    GetTheoraMovieInfo(m->decoder, &info);
    m->width = info.width;
    m->height = info.height;
    if (width != nullptr) *width = info.width;
    if (height != nullptr) *height = info.height;
    m->frameRate = info.frameRate;
    SoundLoadSettings sound;
    GetSoundLoadSettings(&sound);
    sound.loadMethod = SOUND_LOAD_STREAM_KIND;
    sound.disableMask = SOUND_LOAD_DISABLE;
    sound.oggVariant = SOUND_LOAD_OGG_VARIANT;
    m->soundHandle = LoadSoundFileCore(&sound, fileName, 1, -1, 0, workerFlag);
    if (m->soundHandle < 0) m->soundHandle = -1;
    m->theoraFlag = 1;
    m->currentImage = GetTheoraBaseImage(m->decoder);
  } else {
    m->tempFileFlag = 0;
    if (OpenMovieWithMediaGraph(m, fileName, width, height, openMode, workerFlag) == -1) {
      LogPrintf(LOG_OPEN_FAILED);
      DeleteHandle(handle);
      return -1;
    }
    m->currentImage = &m->frameImage;
  }
  m->stopped = 1;
  m->playType = MOVIE_PLAY_BACKGROUND;
  m->playWanted = 0;
  return handle;
}

int ReleaseMovieRecord(HandleRecordHeader* record) {
  MovieRecord* m = reinterpret_cast<MovieRecord*>(record);
  if (m->theoraFlag) {
    if (m->decoder != nullptr) CloseTheoraMovie(m->decoder);
    if (m->stream != 0) FileStreamClose(m->stream);
    if (m->soundHandle != -1) DeleteHandle(m->soundHandle);
    m->soundHandle = -1;
    m->decoder = nullptr;
    m->stream = 0;
    m->theoraFlag = 0;
  }
  m->frameImage.pixels = nullptr;
  ReleaseMovieGraph(m);
  return 0;
}

int RefreshMovieFrame(int handle, int ignored) {
  (void)ignored;
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  if (!m->theoraFlag) return RefreshMovieGraphFrame(m);
  TheoraMovieInfo info;
  GetTheoraMovieInfo(m->decoder, &info);
  const int count = info.timeFrameCount;
  if (!m->stopped) {
    int frame;
    bool soundPlays = SoundPlays(m);
    if (soundPlays) {
      int64_t t = static_cast<int64_t>(Sound.Position(m->soundHandle)) * 1000;
      frame = TruncateDoubleToInt(static_cast<double>(t) * m->frameRate / 1000000.0);
      if (frame >= count) frame = count - 1;
    } else {
      int64_t t = MovieClock() - m->startTime;
      frame = TruncateDoubleToInt(static_cast<double>(t) * m->frameRate / 1000000.0);
      if (frame >= count) frame = (m->playType & MOVIE_PLAY_LOOP_BIT) ? frame % count : count - 1;
    }
    if (frame < 0) frame = 0;
    int c = GetTheoraCurrentFrame(m->decoder);
    if (frame != c) AdvanceTheoraFrame(m->decoder, frame > c ? frame - c : count - c + frame);
    c = GetTheoraCurrentFrame(m->decoder);
    if (frame == c && frame == count - 1 && !(m->playType & MOVIE_PLAY_LOOP_BIT) && !soundPlays) {
      m->playWanted = 0;
      m->stopped = 1;
    }
  }
  if (m->frameCallback != nullptr) m->frameCallback(m, m->callbackParameter);
  return 0;
}

int StartMoviePlayback(int handle, int playType, int resumeOnly) {
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  int type = playType == -1 ? m->playType : playType;
  if (type == 0) type = MOVIE_PLAY_BACKGROUND;
  if (!m->stopped) return 0;
  if (resumeOnly == 1 && m->playWanted == 0) return 0;
  if (m->theoraFlag) {
    int c = GetTheoraCurrentFrame(m->decoder);
    if (c < 0) c = 0;
    // 64-bit: a 32-bit count of microseconds would overflow after 35 minutes.
    m->startTime = MovieClock() - static_cast<int64_t>(1000000.0 / m->frameRate * c);
    if (m->soundHandle != -1) Sound.Play(m->soundHandle, type, 0);
  } else if (m->mediaControl != nullptr) {
    m->mediaControl->Run();
  }
  m->stopped = 0;
  m->playType = type;
  m->playWanted = 1;
  return 0;
}

int PauseMoviePlayback(int handle, int keepWanted) {
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  if (m->stopped) return 0;
  if (m->theoraFlag) {
    if (m->soundHandle != -1) Sound.Stop(m->soundHandle);
    RefreshMovieFrame(handle, 0);
  } else {
    if (m->mediaControl == nullptr) return 0;
    m->mediaControl->Pause();
  }
  m->stopped = 1;
  if (keepWanted == 0) m->playWanted = 0;
  return 0;
}

namespace {

int ForAllMovies(int (*action)(int handle)) {
  if (!MovieSystemReady) return -1;
  HandleManager* manager = &HandleManagers[HANDLETYPE_MOVIE];
  for (int i = manager->lowestSlot; i <= manager->highestSlot && manager->slots != nullptr; i++) {
    HandleRecordHeader* record = manager->slots[i];
    if (record != nullptr) action(record->handle);
  }
  return 0;
}

int PauseKeepingWanted(int handle) { return PauseMoviePlayback(handle, 1); }
int ResumeWanted(int handle) { return StartMoviePlayback(handle, -1, 1); }

}  // namespace

int PauseAllMovies() { return ForAllMovies(PauseKeepingWanted); }

int ResumeAllMovies() { return ForAllMovies(ResumeWanted); }

int RequestMovieFrameRefresh(int handle) {
  MovieRecord* m = GetMovieRecord(handle);
  if (m == nullptr) return -1;
  if (m->theoraFlag) RequestTheoraFrameRefresh(m->decoder);
  else RequestMovieGraphFrame(m);
  return 0;
}
