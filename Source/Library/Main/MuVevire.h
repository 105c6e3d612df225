// Movies: movie handles (type 6), their playback control, and the Ogg Theora
// decoder with its decode thread, frame stock, colour conversion and seeking.
#ifndef MUVEVIRE_H
#define MUVEVIRE_H

#include <stdint.h>

#include <ogg/ogg.h>
#include <theora/theora.h>

#include "DaDode.h"
#include "ReReziRader.h"
#include "VeRavoro.h"
#include "ZeZezuDozThread.h"

struct IGraphBuilder;
struct IMediaControl;
struct IMediaSeeking;
struct IBasicAudio;
struct IDirect3DSurface9;

// ---- Theora decoder ----

enum TheoraThreadState {
  THEORA_THREAD_FULL = 0,
  THEORA_THREAD_FILLING = 1,
  THEORA_THREAD_SEEKING = 2,
  THEORA_THREAD_ENDED = 3,
  THEORA_THREAD_HELD = 4,
};

enum {
  THEORA_READ_SIZE = 4096,
  THEORA_TABLE_STEP = 1000,
  THEORA_MOVIE_STOCK_SIZE = 10,
  // The most time frames an index holds beyond its data frames: a granule
  // position further ahead is damage and is not followed.
  THEORA_GRANULE_GAP_LIMIT = 65536,
  // The largest picture side (and coded frame side) a movie may declare.
  THEORA_PICTURE_SIDE_LIMIT = 16384,
};

struct TheoraPageEntry {
  int offset;      // file offset of the page
  int firstFrame;  // first data frame completed after the page
  int frameCount;  // frame packets completed until the next entry
};

struct TheoraStockFrame {
  int used;   // 1: holds the picture of `frame`
  int frame;  // data frame number
  int inUse;  // 1 while a consumer converts it; the thread neither frees nor refills it
  unsigned char* yCopy;
  unsigned char* uCopy;
  unsigned char* vCopy;
  int yWidth, yHeight, yStride;
  int uvWidth, uvHeight, uvStride;
};

struct TheoraDecoder {
  LockRecord lock;
  volatile int threadState;
  volatile int holdRequest;
  volatile int stopRequest;
  volatile int seekRequest;
  int seekTarget;
  int endOfData;
  unsigned int stockFullTime;
  HANDLE thread;
  DWORD threadId;
  FileStreamFunctionTable files;
  StreamHandle stream;
  ogg_sync_state sync;
  ogg_page page;
  ogg_stream_state streamState;
  int streamStateReady;
  ogg_packet packet;
  theora_info info;
  theora_comment comment;
  theora_state state;
  int stateReady;
  TheoraPageEntry* pages;
  int pageCount, pageCapacity;
  uint32_t* timeMap;
  uint8_t* keyFlags;
  int64_t keyCapacity;
  int timeMapCapacity;
  int64_t dataFrameCount;
  int timeFrameCount;
  int currentTimeFrame;
  int wantedFrame;
  int decoderFrame;  // data frame whose picture the decoder holds; -1 none
  int headerCount;
  TheoraStockFrame* stock;
  int stockSize;
  BaseImageRecord frameImage;  // picture rectangle, XRGB8
  int surfaceRecreate;
  IDirect3DSurface9* surface;
  uint32_t surfaceFormat;
  int imageCurrent;
  int surfaceCurrent;
  volatile long decodeCalls;    // DecodeTheoraFrames calls (diagnosis and tests)
  volatile long restarts;       // restarts at the start of the stream
  volatile long longestDecode;  // largest frame count of one DecodeTheoraFrames call
};

struct TheoraMovieInfo {
  double frameRate;
  int timeFrameCount;
  int width;   // picture width
  int height;  // picture height
};

TheoraDecoder* OpenTheoraMovie(const FileStreamFunctionTable* files, StreamHandle stream, int stockSize, int asyncFlag);
int CloseTheoraMovie(TheoraDecoder* decoder);
int ReadTheoraData(TheoraDecoder* decoder, int size);
int ReadTheoraHeaders(TheoraDecoder* decoder);
int DecodeTheoraFrames(TheoraDecoder* decoder, int count);

void SetupYuvToRgbTables();
int FetchTheoraFrame(TheoraDecoder* decoder, int wantImage, int wantSurface, int asyncFlag);
int RequestTheoraFrameRefresh(TheoraDecoder* decoder);
// The next delivery converts and copies the wanted frame again.
void MarkTheoraFrameStale(TheoraDecoder* decoder);
// The YUV surface of the picture rectangle (sides rounded up to even), in
// the first of YV12, YUY2, UYVY the device makes; none in software mode.
// With asyncFlag the device calls are posted to the main thread.
void CreateTheoraSurface(TheoraDecoder* decoder, int asyncFlag);
void ReleaseTheoraSurface(TheoraDecoder* decoder, int asyncFlag);
// Planes (top row first) to XRGB8; the integer path for 4:2:0, else the
// floating-point path. Exposed for the conversion tests.
void ConvertTheoraPlanes(const TheoraStockFrame* frame, int offsetX, int offsetY, BaseImageRecord* image);
void ConvertTheoraPlanesGeneral(const TheoraStockFrame* frame, int offsetX, int offsetY, BaseImageRecord* image);

int SeekTheoraMovie(TheoraDecoder* decoder, int timeFrame);
void AdvanceTheoraFrame(TheoraDecoder* decoder, int count);
int GetTheoraCurrentFrame(TheoraDecoder* decoder);
void GetTheoraMovieInfo(TheoraDecoder* decoder, TheoraMovieInfo* info);
BaseImageRecord* GetTheoraBaseImage(TheoraDecoder* decoder);
IDirect3DSurface9* GetTheoraFrameImage(TheoraDecoder* decoder);

// ---- Movie handles ----

struct MovieLoadSettings {
  int rightHalfAlpha;
  int useAlpha;
};

struct MovieRecord;
typedef void (*MovieFrameCallback)(MovieRecord* record, uint32_t parameter);

struct MovieRecord {
  HandleRecordHeader header;
  int playType;  // 1 background; bit 2 loops
  int theoraFlag;
  TheoraDecoder* decoder;
  int64_t startTime;  // microseconds at which frame 0 would have been shown
  StreamHandle stream;
  double frameRate;
  int soundHandle;
  IGraphBuilder* graph;
  IMediaControl* mediaControl;
  IMediaSeeking* mediaSeeking;
  IBasicAudio* basicAudio;
  void* renderer;  // RiDov::MovieRenderer, held by the graph
  int tempFileFlag;
  wchar_t fileName[FILE_PATH_SIZE];
  int64_t stopPosition;
  int width, height;
  int rightHalfAlpha, useAlpha;
  int playWanted;
  int stopped;
  BaseImageRecord frameImage;
  BaseImageRecord* currentImage;
  MovieFrameCallback frameCallback;
  uint32_t callbackParameter;
};

enum {
  MOVIE_HANDLE_MAX = 100,
  MOVIE_PLAY_BACKGROUND = 1,
  MOVIE_PLAY_LOOP_BIT = 2,
};

int SetupMovieHandleType();
int EndMovieSystem();
int CheckMovieSystemReady();
MovieRecord* GetMovieRecord(int handle);
void GetMovieLoadSettings(MovieLoadSettings* settings);
int SetMovieFrameCallback(int handle, MovieFrameCallback callback, uint32_t parameter);

int CreateMovieFromFile(const MovieLoadSettings* settings, const char* fileName, int* width, int* height, int openMode,
                        int workerFlag);
// The DirectShow road: the graph with our renderer filter renders the file,
// or a temporary copy of it; one log line on failure, nothing held.
int OpenMovieWithMediaGraph(MovieRecord* record, const char* fileName, int* width, int* height, int openMode,
                            int workerFlag);
// The graph stopped and released, then its temporary copy deleted.
void ReleaseMovieGraph(MovieRecord* record);
// A new frame to the frame callback; the end of the movie (loop or stop).
int RefreshMovieGraphFrame(MovieRecord* record);
// The frame held is delivered again by the next refresh.
void RequestMovieGraphFrame(MovieRecord* record);
// Seam for the temporary copy's writes (null restores WriteFile).
typedef BOOL (*MovieTempFileWriter)(HANDLE file, const void* data, DWORD size, DWORD* written);
void SetMovieTempFileWriter(MovieTempFileWriter writer);
// The container check the graph road runs first (through the file layer,
// archives included): a MovieProbeResult; only 0 (playable) and 7 (not
// readable here) go on to the graph.
int ProbeMovieFile(const char* fileName);
// RenderFile runs on a thread of its own and is given 5 s, the first of the
// process 30 s (the calling thread's messages are served meanwhile); a
// render still running then is abandoned to its thread, which releases the
// graph when it returns, and the open fails. Seams: one limit in ms for
// every render (0 restores the two) and the render call (null restores
// IGraphBuilder::RenderFile).
typedef HRESULT (*MovieGraphRenderFunction)(IGraphBuilder* graph, const wchar_t* fileName);
void SetMovieGraphRenderLimit(unsigned int milliseconds);
void SetMovieGraphRenderFunction(MovieGraphRenderFunction render);
// Abandoned renders whose threads have not yet returned.
int CountAbandonedMovieRenders();
int ReleaseMovieRecord(HandleRecordHeader* record);

int RefreshMovieFrame(int handle, int ignored);
int StartMoviePlayback(int handle, int playType, int resumeOnly);
int PauseMoviePlayback(int handle, int keepWanted);
int PauseAllMovies();
int ResumeAllMovies();
int RequestMovieFrameRefresh(int handle);
// The renderer filter's format number (0 RGB24, 1 RGB32, 2-7 YUV), -1 for a
// Theora movie or before the graph connected it.
int GetMovieFrameFormat(const MovieRecord* record);

// Seams for the playback clock and the sound track (null restores the real
// ones): microseconds of GetMicrosecondCount, and the four sound calls.
struct MovieSoundFunctions {
  int (*IsPlaying)(int handle);
  int (*Position)(int handle);  // milliseconds
  int (*Play)(int handle, int playType, int fromTop);
  int (*Stop)(int handle);
};
void SetMovieClockSource(int64_t (*clock)());
void SetMovieSoundFunctions(const MovieSoundFunctions* functions);

#endif  // MUVEVIRE_H
