// Movie container walks, each bounded by the file's size: RIFF chunks and
// LIST nesting (an AVI needs hdrl with avih first, a strl per stream with
// strh and strf first, movi, whose first chunks are walked, and idx1 when
// avih announces an index that no OpenDML indx gives), MP4 / QuickTime
// top-level boxes (32- and 64-bit sizes; moov with mvhd and a trak, and mdat
// or moof), MPEG program stream packs and packets, and Ogg pages with their
// segment tables. Every read goes through one windowed reader over the
// caller's source.
// Threads and locks: none; runs on the caller's thread.
// Platform: none.
#include "MuVevireProbe.h"

#include <string.h>

#include "VeRavoroString.h"

namespace {

enum {
  PROBE_WINDOW = 1024,
  PROBE_UNIT_BUDGET = 1 << 16,  // chunk, box, packet and page headers walked at most
  PROBE_STOPPED = -1,           // the budget is spent: what was seen is accepted
  RIFF_DEPTH_LIMIT = 8,
  AVI_MAIN_HEADER_SIZE = 56,
  AVI_STREAM_HEADER_SIZE = 48,  // the header without its frame rectangle
  AVI_VIDEO_FORMAT_SIZE = 40,   // BITMAPINFOHEADER
  AVI_AUDIO_FORMAT_SIZE = 14,   // WAVEFORMAT
  AVI_INDEX_ENTRY_SIZE = 16,
  AVIF_HASINDEX = 0x10,
  MPEG1_PACK_SIZE = 12,
  MPEG2_PACK_SIZE = 14,
  OGG_PAGE_HEADER_SIZE = 27,
  OGG_FLAG_BOS = 0x02,
  OGG_FLAGS_KNOWN = 0x07,
};

bool Is(const unsigned char* p, const char* four) { return memcmp(p, four, 4) == 0; }
// Chunk ids and box types are four printable ASCII characters.
bool Printable(const unsigned char* p) {
  for (int i = 0; i < 4; i++)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

// The source seen through a window of PROBE_WINDOW bytes, refilled at the
// offset asked for when the bytes are not in it, with the unit budget.
class ProbeReader {
 public:
  explicit ProbeReader(const MovieProbeSource* source) : source_(source) {}
  int64_t Size() const { return source_->size; }
  // Exactly `count` (at most PROBE_WINDOW) bytes at `offset`, which the
  // caller has checked against the size; false when the source falls short.
  bool Read(int64_t offset, void* out, size_t count) {
    if (offset < start_ || offset + static_cast<int64_t>(count) > start_ + static_cast<int64_t>(length_)) {
      const int64_t left = source_->size - offset;
      const size_t want = left < PROBE_WINDOW ? static_cast<size_t>(left) : static_cast<size_t>(PROBE_WINDOW);
      length_ = source_->ReadAt(source_->context, offset, window_, want);
      start_ = offset;
      if (length_ > want) length_ = 0;
      if (length_ < count) {
        start_ = -1;
        length_ = 0;
        return false;
      }
    }
    memcpy(out, window_ + (offset - start_), count);
    return true;
  }
  // Counts one unit header; false once the budget is spent.
  bool TakeUnit() { return ++units_ <= PROBE_UNIT_BUDGET; }

 private:
  const MovieProbeSource* source_;
  unsigned char window_[PROBE_WINDOW];
  int64_t start_ = -1;
  size_t length_ = 0;
  int units_ = 0;
};

// ---- RIFF ----

struct RiffFindings {
  bool isAvi = false;
  bool headerList = false;    // LIST hdrl
  int streamLists = 0;        // LIST strl
  bool movieList = false;     // LIST movi
  bool index = false;         // idx1
  bool openDmlIndex = false;  // indx inside a strl
  uint32_t mainFlags = 0;     // avih dwFlags
};

int WalkRiffList(ProbeReader* r, int64_t begin, int64_t end, int depth, const unsigned char* listType,
                 RiffFindings* f) {
  if (depth > RIFF_DEPTH_LIMIT) return MOVIE_PROBE_BAD_STRUCTURE;
  const bool inHeader = f->isAvi && Is(listType, "hdrl");
  const bool inStream = f->isAvi && Is(listType, "strl");
  unsigned char streamKind[4] = {};  // fccType of the strl's strh
  int index = 0;
  const bool frames = f->isAvi && depth == 1 && Is(listType, "movi");
  for (int64_t pos = begin; pos < end; index++) {
    if (frames && index >= MOVIE_PROBE_MOVI_CHUNK_LIMIT) break;
    if (!r->TakeUnit()) return PROBE_STOPPED;
    if (end - pos < 8) return MOVIE_PROBE_PAST_END;
    unsigned char head[12];
    if (!r->Read(pos, head, 8)) return MOVIE_PROBE_READ_FAILED;
    if (!Printable(head)) return MOVIE_PROBE_BAD_STRUCTURE;
    const uint32_t size = ReadLE32(head + 4);
    const int64_t dataEnd = pos + 8 + size;
    if (dataEnd > end) return MOVIE_PROBE_PAST_END;
    const int64_t data = pos + 8;
    if (inHeader && index == 0 && (!Is(head, "avih") || size < AVI_MAIN_HEADER_SIZE)) return MOVIE_PROBE_NO_HEADER;
    if (inStream && index == 0 && (!Is(head, "strh") || size < AVI_STREAM_HEADER_SIZE)) return MOVIE_PROBE_NO_HEADER;
    if (inStream && index == 1) {
      const uint32_t least = Is(streamKind, "vids")   ? AVI_VIDEO_FORMAT_SIZE
                             : Is(streamKind, "auds") ? AVI_AUDIO_FORMAT_SIZE
                                                      : 1;
      if (!Is(head, "strf") || size < least) return MOVIE_PROBE_NO_HEADER;
    }
    if (inHeader && index == 0) {
      unsigned char flags[4];
      if (!r->Read(data + 12, flags, 4)) return MOVIE_PROBE_READ_FAILED;
      f->mainFlags = ReadLE32(flags);
    }
    if (inStream && index == 0) {
      if (!r->Read(data, streamKind, 4)) return MOVIE_PROBE_READ_FAILED;
    }
    if (inStream && Is(head, "indx")) f->openDmlIndex = true;
    if (f->isAvi && depth == 0 && Is(head, "idx1")) {
      if (size % AVI_INDEX_ENTRY_SIZE != 0) return MOVIE_PROBE_BAD_SIZE;
      f->index = true;
    }
    if (Is(head, "LIST") || Is(head, "RIFF")) {
      if (size < 4) return MOVIE_PROBE_BAD_SIZE;
      if (!r->Read(data, head + 8, 4)) return MOVIE_PROBE_READ_FAILED;
      if (!Printable(head + 8)) return MOVIE_PROBE_BAD_STRUCTURE;
      if (f->isAvi && depth == 0 && Is(head + 8, "hdrl")) f->headerList = true;
      if (f->isAvi && depth == 0 && Is(head + 8, "movi")) f->movieList = true;
      const bool streamList = inHeader && Is(head + 8, "strl");
      const int walked = WalkRiffList(r, data + 4, dataEnd, depth + 1, head + 8, f);
      if (walked != MOVIE_PROBE_PLAYABLE) return walked;
      if (streamList) f->streamLists++;
    }
    // Odd sizes are padded to even; the pad may be missing at the list's end.
    pos = dataEnd + (size & 1);
    if (pos > end) pos = end;
  }
  if (inHeader && index == 0) return MOVIE_PROBE_NO_HEADER;
  if (inStream && index < 2) return MOVIE_PROBE_NO_HEADER;
  return MOVIE_PROBE_PLAYABLE;
}

int WalkRiff(ProbeReader* r) {
  unsigned char head[12];
  if (!r->Read(0, head, 12)) return MOVIE_PROBE_READ_FAILED;
  const uint32_t size = ReadLE32(head + 4);
  if (size < 4) return MOVIE_PROBE_BAD_SIZE;
  if (8 + static_cast<int64_t>(size) > r->Size()) return MOVIE_PROBE_PAST_END;
  if (!Printable(head + 8)) return MOVIE_PROBE_BAD_STRUCTURE;
  RiffFindings f;
  f.isAvi = Is(head + 8, "AVI ");
  // Bytes after the first RIFF (OpenDML's AVIX parts) are not walked.
  const int walked = WalkRiffList(r, 12, 8 + static_cast<int64_t>(size), 0, head + 8, &f);
  if (walked == PROBE_STOPPED) return MOVIE_PROBE_PLAYABLE;
  if (walked != MOVIE_PROBE_PLAYABLE || !f.isAvi) return walked;
  if (!f.headerList || f.streamLists == 0 || !f.movieList) return MOVIE_PROBE_NO_HEADER;
  if ((f.mainFlags & AVIF_HASINDEX) && !f.index && !f.openDmlIndex) return MOVIE_PROBE_NO_HEADER;
  return MOVIE_PROBE_PLAYABLE;
}

// ---- MP4 / QuickTime ----

struct BoxFindings {
  bool movie = false;        // moov
  bool media = false;        // mdat or moof
  bool movieHeader = false;  // mvhd in moov
  int tracks = 0;            // trak in moov
};

// The boxes of [begin, end); `inMovie` for the children of moov.
int WalkBoxes(ProbeReader* r, int64_t begin, int64_t end, bool inMovie, BoxFindings* f) {
  for (int64_t pos = begin; pos < end;) {
    if (!r->TakeUnit()) return PROBE_STOPPED;
    if (end - pos < 8) return MOVIE_PROBE_PAST_END;
    unsigned char head[16];
    if (!r->Read(pos, head, 8)) return MOVIE_PROBE_READ_FAILED;
    if (!Printable(head + 4)) return MOVIE_PROBE_BAD_STRUCTURE;
    uint64_t size = ReadBE32(head);
    int64_t headerSize = 8;
    if (size == 1) {
      if (end - pos < 16) return MOVIE_PROBE_PAST_END;
      if (!r->Read(pos + 8, head + 8, 8)) return MOVIE_PROBE_READ_FAILED;
      size = ReadBE64(head + 8);
      headerSize = 16;
      if (size < 16) return MOVIE_PROBE_BAD_SIZE;
    } else if (size < 8) {
      // 0 would mean "to the end of the file": refused, as writers of
      // finished files give the size.
      return MOVIE_PROBE_BAD_SIZE;
    }
    if (size > static_cast<uint64_t>(end - pos)) return MOVIE_PROBE_PAST_END;
    const unsigned char* type = head + 4;
    if (!inMovie) {
      if (Is(type, "mdat") || Is(type, "moof")) f->media = true;
      if (Is(type, "moov")) {
        f->movie = true;
        const int walked = WalkBoxes(r, pos + headerSize, pos + static_cast<int64_t>(size), true, f);
        if (walked != MOVIE_PROBE_PLAYABLE) return walked;
      }
    } else {
      if (Is(type, "mvhd")) f->movieHeader = true;
      if (Is(type, "trak")) f->tracks++;
    }
    pos += static_cast<int64_t>(size);
  }
  return MOVIE_PROBE_PLAYABLE;
}

int WalkMp4(ProbeReader* r) {
  BoxFindings f;
  const int walked = WalkBoxes(r, 0, r->Size(), false, &f);
  if (walked == PROBE_STOPPED) return MOVIE_PROBE_PLAYABLE;
  if (walked != MOVIE_PROBE_PLAYABLE) return walked;
  if (!f.movie || !f.media || !f.movieHeader || f.tracks == 0) return MOVIE_PROBE_NO_HEADER;
  return MOVIE_PROBE_PLAYABLE;
}

// ---- MPEG program stream ----

// Length of the pack header whose first bytes (up to 14, `left` in the
// file) are in `p`, or minus a refusal.
int PackHeaderLength(const unsigned char* p, int64_t left) {
  if (left < 5) return -MOVIE_PROBE_PAST_END;
  if ((p[4] & 0xC0) == 0x40) {  // MPEG-2
    if (left < MPEG2_PACK_SIZE) return -MOVIE_PROBE_PAST_END;
    if ((p[4] & 0x04) == 0 || (p[6] & 0x04) == 0 || (p[8] & 0x04) == 0 || (p[9] & 0x01) == 0 || (p[12] & 0x03) != 0x03)
      return -MOVIE_PROBE_BAD_STRUCTURE;
    const uint32_t muxRate = (p[10] << 14) | (p[11] << 6) | (p[12] >> 2);
    if (muxRate == 0) return -MOVIE_PROBE_BAD_SIZE;
    return MPEG2_PACK_SIZE + (p[13] & 0x07);
  }
  if ((p[4] & 0xF0) == 0x20) {  // MPEG-1
    if (left < MPEG1_PACK_SIZE) return -MOVIE_PROBE_PAST_END;
    if ((p[4] & 0x01) == 0 || (p[6] & 0x01) == 0 || (p[8] & 0x01) == 0 || (p[9] & 0x80) == 0 || (p[11] & 0x01) == 0)
      return -MOVIE_PROBE_BAD_STRUCTURE;
    const uint32_t muxRate = ((p[9] & 0x7F) << 15) | (p[10] << 7) | (p[11] >> 1);
    if (muxRate == 0) return -MOVIE_PROBE_BAD_SIZE;
    return MPEG1_PACK_SIZE;
  }
  return -MOVIE_PROBE_BAD_STRUCTURE;
}

int WalkProgramStream(ProbeReader* r) {
  const int64_t end = r->Size();
  bool elementary = false;  // a packet of an audio, video or private stream
  for (int64_t pos = 0; pos < end;) {
    if (!r->TakeUnit()) return MOVIE_PROBE_PLAYABLE;
    if (end - pos < 4) return MOVIE_PROBE_PAST_END;
    unsigned char p[14] = {};
    const size_t count = end - pos < 14 ? static_cast<size_t>(end - pos) : 14;
    if (!r->Read(pos, p, count)) return MOVIE_PROBE_READ_FAILED;
    if (p[0] != 0 || p[1] != 0 || p[2] != 1) return MOVIE_PROBE_BAD_STRUCTURE;
    const unsigned char code = p[3];
    if (code == 0xB9) break;  // program end
    if (code == 0xBA) {
      const int length = PackHeaderLength(p, end - pos);
      if (length < 0) return -length;
      if (end - pos < length) return MOVIE_PROBE_PAST_END;
      pos += length;
      continue;
    }
    if (code < 0xBB) return MOVIE_PROBE_BAD_STRUCTURE;
    if (code == 0xBD || (code >= 0xC0 && code <= 0xEF)) elementary = true;
    if (end - pos < 6) return MOVIE_PROBE_PAST_END;
    const int64_t length = 6 + ((p[4] << 8) | p[5]);
    if (end - pos < length) return MOVIE_PROBE_PAST_END;
    pos += length;
  }
  return elementary ? MOVIE_PROBE_PLAYABLE : MOVIE_PROBE_NO_HEADER;
}

// ---- Ogg ----

int WalkOgg(ProbeReader* r) {
  const int64_t end = r->Size();
  for (int64_t pos = 0; pos < end;) {
    if (!r->TakeUnit()) return MOVIE_PROBE_PLAYABLE;
    if (end - pos < OGG_PAGE_HEADER_SIZE) return MOVIE_PROBE_PAST_END;
    unsigned char head[OGG_PAGE_HEADER_SIZE + 255];
    if (!r->Read(pos, head, OGG_PAGE_HEADER_SIZE)) return MOVIE_PROBE_READ_FAILED;
    if (!Is(head, "OggS") || head[4] != 0 || (head[5] & ~OGG_FLAGS_KNOWN) != 0) return MOVIE_PROBE_BAD_STRUCTURE;
    if (pos == 0 && (head[5] & OGG_FLAG_BOS) == 0) return MOVIE_PROBE_NO_HEADER;
    const int segments = head[26];
    if (end - pos < OGG_PAGE_HEADER_SIZE + segments) return MOVIE_PROBE_PAST_END;
    if (!r->Read(pos + OGG_PAGE_HEADER_SIZE, head + OGG_PAGE_HEADER_SIZE, segments)) return MOVIE_PROBE_READ_FAILED;
    int64_t body = 0;
    for (int i = 0; i < segments; i++) body += head[OGG_PAGE_HEADER_SIZE + i];
    const int64_t pageSize = OGG_PAGE_HEADER_SIZE + segments + body;
    if (end - pos < pageSize) return MOVIE_PROBE_PAST_END;
    pos += pageSize;
  }
  return MOVIE_PROBE_PLAYABLE;
}

// Signatures passed to the graph without a walk: MPEG video elementary
// stream, ASF, Matroska / WebM, FLV.
const struct {
  size_t offset;
  const char* bytes;
  size_t size;
} SignatureOnlyContainers[] = {
    {0, "\0\0\x01\xB3", 4}, {0, "\x30\x26\xB2\x75", 4}, {0, "\x1A\x45\xDF\xA3", 4}, {0, "FLV", 3}};

const char* const BoxFileTypes[] = {"ftyp", "moov", "mdat", "free", "wide"};

}  // namespace

int ProbeMovieContainer(const MovieProbeSource* source) {
  if (source == nullptr || source->ReadAt == nullptr || source->size < 16) return MOVIE_PROBE_NOT_A_CONTAINER;
  ProbeReader reader(source);
  unsigned char head[16];
  if (!reader.Read(0, head, sizeof head)) return MOVIE_PROBE_READ_FAILED;
  if (Is(head, "RIFF")) return WalkRiff(&reader);
  if (Is(head, "\0\0\x01\xBA")) return WalkProgramStream(&reader);
  for (const char* type : BoxFileTypes)
    if (Is(head + 4, type)) return WalkMp4(&reader);
  if (Is(head, "OggS")) return WalkOgg(&reader);
  for (const auto& c : SignatureOnlyContainers)
    if (memcmp(head + c.offset, c.bytes, c.size) == 0) return MOVIE_PROBE_PLAYABLE;
  // MPEG transport stream: its sync byte.
  return head[0] == 0x47 ? MOVIE_PROBE_PLAYABLE : MOVIE_PROBE_NOT_A_CONTAINER;
}
