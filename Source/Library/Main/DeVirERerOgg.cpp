// Ogg Vorbis conversion: the converter's kind 2. The stream is opened through
// vorbisfile with callbacks over the converter's StreamData; with the Ogg
// variant flag set, through OggFileLayer instead: the same five operations
// over the same OggVorbis_File, fed by a read-ahead that asks the stream for
// 65,536 bytes at a time where vorbisfile asks for 2,048.
// No lock of its own: the converter's owner drives it (see VeVirudConvert).
// Platform: none; libvorbisfile / libvorbis / libogg.
#include "DeVirERerOgg.h"

#include <string.h>
#include <vorbis/vorbisfile.h>

#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

enum { OGG_BLOCK_SIZE = 4096, OGG_HOLE_RETRIES = 16 };

// Read-ahead of OggFileLayer: the stream is read in large pieces, vorbisfile
// is served from the buffer; tell and seek account for what is buffered.
struct OggReadAhead {
  StreamData* stream;
  unsigned char* buffer;
  int length;
  int position;
};

struct OggConvertArea {
  int opened;
  OggVorbis_File file;
  int bytesPerSample;
  OggReadAhead* readAhead;  // OggFileLayer only
};
static_assert(sizeof(OggConvertArea) <= SOUND_CONVERT_AREA_SIZE, "Ogg state must fit the kind area");

OggConvertArea* Area(SoundConversion* c) { return reinterpret_cast<OggConvertArea*>(c->area.raw); }

size_t OggReadCallback(void* buffer, size_t size, size_t count, void* source) {
  if (source == nullptr) return static_cast<size_t>(-1);
  StreamData* s = static_cast<StreamData*>(source);
  return s->functions.Read(buffer, size, count, s->handle);
}
int OggSeekCallback(void* source, ogg_int64_t offset, int origin) {
  if (source == nullptr) return -1;
  StreamData* s = static_cast<StreamData*>(source);
  return s->functions.Seek(s->handle, offset, origin);
}
int OggCloseCallback(void*) { return 0; }
long OggTellCallback(void* source) {
  if (source == nullptr) return -1;
  StreamData* s = static_cast<StreamData*>(source);
  return static_cast<long>(s->functions.Tell(s->handle));
}

const ov_callbacks OggCallbacks = {OggReadCallback, OggSeekCallback, OggCloseCallback, OggTellCallback};

size_t LayerReadCallback(void* buffer, size_t size, size_t count, void* source) {
  if (source == nullptr) return static_cast<size_t>(-1);
  OggReadAhead* r = static_cast<OggReadAhead*>(source);
  size_t wanted = size * count;
  if (size == 0 || wanted == 0) return 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  size_t copied = 0;
  while (copied < wanted) {
    if (r->position >= r->length) {
      size_t got = OggReadCallback(r->buffer, 1, OGG_LAYER_READ_SIZE, r->stream);
      r->position = 0;
      r->length = got == static_cast<size_t>(-1) ? 0 : static_cast<int>(got);
      if (r->length == 0) break;
    }
    size_t n = static_cast<size_t>(r->length - r->position);
    if (n > wanted - copied) n = wanted - copied;
    memcpy(out + copied, r->buffer + r->position, n);
    r->position += static_cast<int>(n);
    copied += n;
  }
  return copied / size;
}
int LayerSeekCallback(void* source, ogg_int64_t offset, int origin) {
  if (source == nullptr) return -1;
  OggReadAhead* r = static_cast<OggReadAhead*>(source);
  // Relative seeks are from the position vorbisfile sees, not the stream's.
  if (origin == SEEK_CUR) offset -= r->length - r->position;
  r->length = 0;
  r->position = 0;
  return OggSeekCallback(r->stream, offset, origin);
}
long LayerTellCallback(void* source) {
  if (source == nullptr) return -1;
  OggReadAhead* r = static_cast<OggReadAhead*>(source);
  long at = OggTellCallback(r->stream);
  return at < 0 ? at : at - (r->length - r->position);
}

const ov_callbacks LayerCallbacks = {LayerReadCallback, LayerSeekCallback, OggCloseCallback, LayerTellCallback};

void FreeReadAhead(OggConvertArea* a) {
  if (a->readAhead == nullptr) return;
  if (a->readAhead->buffer != nullptr) MemFree(a->readAhead->buffer);
  MemFree(a->readAhead);
  a->readAhead = nullptr;
}

// OggFileLayer: open with callbacks over the read-ahead.
int OggLayerOpen(SoundConversion* c, OggConvertArea* a) {
  a->readAhead = static_cast<OggReadAhead*>(MEM_ALLOC_ZEROED(sizeof(OggReadAhead)));
  if (a->readAhead == nullptr) return -1;
  a->readAhead->stream = &c->stream;
  a->readAhead->buffer = static_cast<unsigned char*>(MEM_ALLOC(OGG_LAYER_READ_SIZE));
  if (a->readAhead->buffer == nullptr) {
    FreeReadAhead(a);
    return -1;
  }
  if (ov_open_callbacks(a->readAhead, &a->file, nullptr, 0, LayerCallbacks) != 0) {
    FreeReadAhead(a);
    return -1;
  }
  return 0;
}

// The position of the first page of `serial` at or after `at` and before
// `end`, or -1, read through the layer's callbacks. Pages of other streams
// (a movie's video) are stepped over.
ogg_int64_t FindOwnPage(const ov_callbacks& io, void* source, ogg_int64_t at, ogg_int64_t end, long serial) {
  enum { PAGE_HEADER = 27 };
  unsigned char header[PAGE_HEADER + 255];
  while (at + PAGE_HEADER <= end) {
    if (io.seek_func(source, at, SEEK_SET) != 0) return -1;
    if (io.read_func(header, 1, PAGE_HEADER, source) != PAGE_HEADER || memcmp(header, "OggS", 4) != 0) return -1;
    const int segments = header[26];
    if (io.read_func(header + PAGE_HEADER, 1, segments, source) != static_cast<size_t>(segments)) return -1;
    if (static_cast<long>(ReadLE32(header + 14)) == serial) return at;
    long body = 0;
    for (int i = 0; i < segments; i++) body += header[PAGE_HEADER + i];
    at += PAGE_HEADER + segments + body;
  }
  return -1;
}

// vorbisfile takes each link's data to start right after its header pages
// and, reading from there, drops the packets of a last page that is not
// the first page there. A Vorbis track behind pages of another stream (a
// movie's first video pages) whose sound fits one page would then decode
// to nothing: each link's data start is moved to its own first page.
void StartLinksAtTheirOwnPages(SoundConversion* c, OggConvertArea* a) {
  OggVorbis_File* file = &a->file;
  if (!file->seekable || file->dataoffsets == nullptr || file->serialnos == nullptr) return;
  const ov_callbacks& io = a->readAhead != nullptr ? LayerCallbacks : OggCallbacks;
  void* source = a->readAhead != nullptr ? static_cast<void*>(a->readAhead) : static_cast<void*>(&c->stream);
  const long saved = io.tell_func(source);
  bool moved = false;
  for (int link = 0; link < file->links; link++) {
    const ogg_int64_t end = link + 1 < file->links ? file->offsets[link + 1] : file->end;
    const ogg_int64_t own = FindOwnPage(io, source, file->dataoffsets[link], end, file->serialnos[link]);
    if (own > file->dataoffsets[link]) {
      file->dataoffsets[link] = own;
      moved = true;
    }
  }
  // From the new start; else the stream goes back where the layer left it.
  if (moved) {
    ov_raw_seek(file, file->dataoffsets[0]);
  } else if (saved >= 0) {
    io.seek_func(source, saved, SEEK_SET);
  }
}

}  // namespace

int OpenOggConversion(SoundConversion* c) {
  OggConvertArea* a = Area(c);
  memset(a, 0, sizeof(*a));
  if (c->oggVariant != 0) {
    if (OggLayerOpen(c, a) != 0) return -1;
  } else if (ov_open_callbacks(&c->stream, &a->file, nullptr, 0, OggCallbacks) != 0) {
    return -1;
  }
  a->opened = 1;
  StartLinksAtTheirOwnPages(c, a);
  vorbis_info* info = ov_info(&a->file, -1);
  if (info == nullptr || info->channels <= 0 || info->channels > SOUND_FORMAT_MAX_CHANNELS ||
      info->rate < SOUND_FORMAT_MIN_RATE || info->rate > SOUND_FORMAT_MAX_RATE) {
    ReleaseOggConversion(c);
    return -1;
  }
  // 1 byte per sample gives unsigned 8-bit output; anything else 16-bit.
  a->bytesPerSample = c->oggBytesPerSample == 1 ? 1 : 2;
  FillPcmWaveFormat(&c->outputFormat, info->channels, a->bytesPerSample * 8, static_cast<int>(info->rate));
  c->blockSize = OGG_BLOCK_SIZE;
  c->dataSize = GetOggConvertedSize(c);
  c->kind = SOUND_CONVERT_OGG;
  return 0;
}

int GetOggConvertedSize(SoundConversion* c) {
  OggConvertArea* a = Area(c);
  if (!a->opened) return 0;
  ogg_int64_t total = ov_pcm_total(&a->file, -1);
  if (total < 0) return 0;
  uint32_t size = static_cast<uint32_t>(total) * c->outputFormat.nChannels * static_cast<uint32_t>(a->bytesPerSample);
  return static_cast<int>(size);
}

int ConvertOggBlock(SoundConversion* c) {
  OggConvertArea* a = Area(c);
  if (!a->opened) return -1;
  int link = 0;
  int signedOutput = a->bytesPerSample == 1 ? 0 : 1;
  for (int retry = 0; retry <= OGG_HOLE_RETRIES; retry++) {
    long got = ov_read(&a->file, reinterpret_cast<char*>(c->blockBuffer), c->blockSize, 0, a->bytesPerSample,
                       signedOutput, &link);
    if (got > 0) {
      c->bytesLeft = static_cast<int>(got);
      return 0;
    }
    // A hole in the data is skipped; the end or any other failure ends it.
    if (got != OV_HOLE) break;
  }
  return -1;
}

int SeekOggConversion(SoundConversion* c, int sample) {
  OggConvertArea* a = Area(c);
  if (a->opened) ov_pcm_seek(&a->file, static_cast<ogg_int64_t>(sample));
  c->bytesLeft = 0;
  c->readOffset = 0;
  c->outputPosition = sample * c->outputFormat.nBlockAlign;
  return 0;
}

void ReleaseOggConversion(SoundConversion* c) {
  OggConvertArea* a = Area(c);
  if (a->opened == 1) {
    ov_clear(&a->file);
    a->opened = 0;
  }
  FreeReadAhead(a);
}
