// Structure check of a movie file before it goes to the platform's filter
// graph, whose parsers can wait forever or crash on a damaged container.
// RIFF (with the AVI headers), MP4 / QuickTime boxes, MPEG program stream
// packs and Ogg pages are walked within the file's size; other known
// signatures pass on their signature alone.
#ifndef MUVEVIREPROBE_H
#define MUVEVIREPROBE_H

#include <stddef.h>
#include <stdint.h>

enum MovieProbeResult {
  MOVIE_PROBE_PLAYABLE = 0,         // a container whose structure holds, or a kind not walked
  MOVIE_PROBE_NOT_A_CONTAINER = 1,  // no movie signature (or fewer than 16 bytes)
  MOVIE_PROBE_PAST_END = 2,         // a chunk, box, pack or page runs past its parent or the file
  MOVIE_PROBE_BAD_SIZE = 3,         // a zero or impossible size field
  MOVIE_PROBE_BAD_STRUCTURE = 4,    // a unit where none can stand (lost sync, bad marker, nesting)
  MOVIE_PROBE_NO_HEADER = 5,        // a mandatory header or list missing or too short
  MOVIE_PROBE_READ_FAILED = 6,      // the source gave fewer bytes than its size promised
  MOVIE_PROBE_UNREADABLE = 7,       // the file could not be opened here (the graph decides)
};

// Frame chunks of an AVI's movi list walked; the rest are taken on the
// list's bounds (the walk goes on after the list).
enum { MOVIE_PROBE_MOVI_CHUNK_LIMIT = 16384 };

// Random access to the bytes of a file of `size` bytes.
struct MovieProbeSource {
  void* context;
  int64_t size;
  // Up to `count` bytes at `offset` into `buffer`; the count read.
  size_t (*ReadAt)(void* context, int64_t offset, void* buffer, size_t count);
};

// One of MovieProbeResult; only MOVIE_PROBE_PLAYABLE lets the file go on.
// Walks at most a bounded number of units, then accepts what it has seen.
int ProbeMovieContainer(const MovieProbeSource* source);

#endif  // MUVEVIREPROBE_H
