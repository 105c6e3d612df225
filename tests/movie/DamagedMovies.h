// Damaged movie files made from valid fixtures by cutting or patching bytes
// at places found by their tags, each with the refusal the container check
// must give; and rewritten files that stay valid.
#ifndef DAMAGED_MOVIES_H
#define DAMAGED_MOVIES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <ogg/ogg.h>

#include <string>
#include <vector>

#include "MuVevireProbe.h"
#include "VeRavoroString.h"

namespace movie_test {

using Bytes = std::vector<uint8_t>;

struct DamagedMovie {
  std::string name;  // file name, its extension the container's
  Bytes bytes;
  int expected;  // MovieProbeResult
};

constexpr size_t kNoTag = static_cast<size_t>(-1);

// Offset of the first occurrence of the tag at or after `from`, or kNoTag.
inline size_t FindTag(const Bytes& b, const char* tag, size_t from = 0, size_t tagSize = 4) {
  for (size_t i = from; i + tagSize <= b.size(); i++)
    if (memcmp(&b[i], tag, tagSize) == 0) return i;
  return kNoTag;
}
// Offset of the start code 00 00 01 `code` at or after `from`, or kNoTag.
inline size_t FindStartCode(const Bytes& b, uint8_t code, size_t from = 0) {
  const char tag[4] = {0, 0, 1, static_cast<char>(code)};
  return FindTag(b, tag, from);
}

inline Bytes Cut(const Bytes& b, size_t size) {
  return Bytes(b.begin(), b.begin() + (size < b.size() ? size : b.size()));
}

inline Bytes Put(Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t v : bytes) {
    if (at < b.size()) b[at] = v;
    at++;
  }
  return b;
}
inline Bytes PutLE32(const Bytes& b, size_t at, uint32_t v) {
  return Put(b, at,
             {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
              static_cast<uint8_t>(v >> 24)});
}
inline Bytes PutBE32(const Bytes& b, size_t at, uint32_t v) {
  return Put(b, at,
             {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
              static_cast<uint8_t>(v)});
}
inline uint32_t LE32(const Bytes& b, size_t at) { return ReadLE32(&b[at]); }
inline uint32_t BE32(const Bytes& b, size_t at) { return ReadBE32(&b[at]); }
inline Bytes Rename(const Bytes& b, size_t at, const char* tag) {
  return Put(b, at,
             {static_cast<uint8_t>(tag[0]), static_cast<uint8_t>(tag[1]), static_cast<uint8_t>(tag[2]),
              static_cast<uint8_t>(tag[3])});
}

// An Ogg page: offset, size, stream serial number.
struct OggPage {
  size_t at;
  size_t size;
  uint32_t serial;
};

inline std::vector<OggPage> OggPages(const Bytes& b) {
  std::vector<OggPage> pages;
  size_t at = 0;
  while (at + 27 <= b.size() && memcmp(&b[at], "OggS", 4) == 0) {
    size_t body = 0;
    for (int i = 0; i < b[at + 26]; i++) body += b[at + 27 + i];
    pages.push_back({at, 27 + b[at + 26] + body, ReadLE32(&b[at + 14])});
    at += 27 + b[at + 26] + body;
  }
  return pages;
}

// The page's CRC computed again after a patch.
inline Bytes FixOggCrc(Bytes b, const OggPage& p) {
  ogg_page page;
  page.header = &b[p.at];
  page.header_len = 27 + b[p.at + 26];
  page.body = &b[p.at] + page.header_len;
  page.body_len = static_cast<long>(p.size) - page.header_len;
  ogg_page_checksum_set(&page);
  return b;
}

// From an uncompressed AVI with one video stream whose first frame is black
// (ffmpeg's layout: hdrl, INFO, JUNK, movi with 00dc chunks, idx1, and
// AVIF_HASINDEX in avih).
inline std::vector<DamagedMovie> DamagedAvis(const Bytes& avi) {
  const size_t size = avi.size();
  const size_t avih = FindTag(avi, "avih"), strh = FindTag(avi, "strh"), strf = FindTag(avi, "strf");
  const size_t info = FindTag(avi, "INFO"), movi = FindTag(avi, "movi"), frame = FindTag(avi, "00dc", movi);
  const size_t idx1 = FindTag(avi, "idx1");
  return {
      {"cut_half.avi", Cut(avi, size / 2), MOVIE_PROBE_PAST_END},
      {"cut_in_hdrl.avi", Cut(avi, 100), MOVIE_PROBE_PAST_END},
      {"cut_in_idx1.avi", Cut(avi, size - 8), MOVIE_PROBE_PAST_END},
      {"riff_size_huge.avi", PutLE32(avi, 4, 0xFFFFFFF0u), MOVIE_PROBE_PAST_END},
      {"riff_size_zero.avi", PutLE32(avi, 4, 0), MOVIE_PROBE_BAD_SIZE},
      {"hdrl_past_riff.avi", PutLE32(avi, 16, static_cast<uint32_t>(size)), MOVIE_PROBE_PAST_END},
      {"avih_short.avi", PutLE32(avi, avih + 4, 8), MOVIE_PROBE_NO_HEADER},
      {"avih_missing.avi", Rename(avi, avih, "xvih"), MOVIE_PROBE_NO_HEADER},
      {"strh_missing.avi", Rename(avi, strh, "xtrh"), MOVIE_PROBE_NO_HEADER},
      {"strf_missing.avi", Rename(avi, strf, "xtrf"), MOVIE_PROBE_NO_HEADER},
      {"strf_short.avi", PutLE32(avi, strf + 4, 4), MOVIE_PROBE_NO_HEADER},
      {"list_size_3.avi", PutLE32(avi, info - 4, 3), MOVIE_PROBE_BAD_SIZE},
      {"movi_missing.avi", Rename(avi, movi, "mova"), MOVIE_PROBE_NO_HEADER},
      {"idx1_missing.avi", Rename(avi, idx1, "JUNK"), MOVIE_PROBE_NO_HEADER},
      {"idx1_odd_size.avi", PutLE32(avi, idx1 + 4, LE32(avi, idx1 + 4) - 1), MOVIE_PROBE_BAD_SIZE},
      {"frame_past_movi.avi", PutLE32(avi, frame + 4, 0x7FFFFFFF), MOVIE_PROBE_PAST_END},
      {"frame_misaligned.avi", PutLE32(avi, frame + 4, LE32(avi, frame + 4) + 2), MOVIE_PROBE_BAD_STRUCTURE},
  };
}

// The AVI with `count` empty JUNK chunks at the head of movi, the list and
// RIFF sizes grown to match.
inline Bytes WithEmptyChunksInMovi(const Bytes& avi, int count) {
  const size_t movi = FindTag(avi, "movi");
  Bytes out(avi.begin(), avi.begin() + movi + 4);
  for (int i = 0; i < count; i++) out.insert(out.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 0});
  out.insert(out.end(), avi.begin() + movi + 4, avi.end());
  out = PutLE32(out, movi - 4, LE32(avi, movi - 4) + 8 * count);
  return PutLE32(out, 4, LE32(avi, 4) + 8 * count);
}

// Past the walked head of a long movi a broken frame chunk is not seen,
// while a missing idx1 after the list still is; within it, it is.
inline std::vector<DamagedMovie> LongMoviAvis(const Bytes& avi) {
  const Bytes longer = WithEmptyChunksInMovi(avi, MOVIE_PROBE_MOVI_CHUNK_LIMIT);
  const Bytes shorter = WithEmptyChunksInMovi(avi, 100);
  const size_t frame = FindTag(longer, "00dc", FindTag(longer, "movi")), idx1 = FindTag(longer, "idx1");
  const size_t shortFrame = FindTag(shorter, "00dc", FindTag(shorter, "movi"));
  return {{"long_movi_late_damage.avi", PutLE32(longer, frame + 4, LE32(longer, frame + 4) + 2), MOVIE_PROBE_PLAYABLE},
          {"long_movi_no_idx1.avi", Rename(longer, idx1, "JUNK"), MOVIE_PROBE_NO_HEADER},
          {"short_movi_damage.avi", PutLE32(shorter, shortFrame + 4, LE32(shorter, shortFrame + 4) + 2),
           MOVIE_PROBE_BAD_STRUCTURE}};
}

// From an MP4 of ftyp, free, mdat, moov (mvhd, trak, udta).
inline std::vector<DamagedMovie> DamagedMp4s(const Bytes& mp4) {
  const size_t size = mp4.size();
  const size_t ftyp = FindTag(mp4, "ftyp") - 4, mdat = FindTag(mp4, "mdat") - 4, moov = FindTag(mp4, "moov") - 4;
  const size_t mvhd = FindTag(mp4, "mvhd") - 4, trak = FindTag(mp4, "trak") - 4;
  const Bytes wide = PutBE32(mp4, mdat, 1);  // 64-bit size: the largesize overlays the data's first 8 bytes
  return {
      {"cut_half.mp4", Cut(mp4, size / 2), MOVIE_PROBE_PAST_END},
      {"cut_in_moov.mp4", Cut(mp4, size - 10), MOVIE_PROBE_PAST_END},
      {"mdat_size_zero.mp4", PutBE32(mp4, mdat, 0), MOVIE_PROBE_BAD_SIZE},
      {"mdat_size_huge.mp4", PutBE32(mp4, mdat, 0xFFFFFFF0u), MOVIE_PROBE_PAST_END},
      {"ftyp_size_5.mp4", PutBE32(mp4, ftyp, 5), MOVIE_PROBE_BAD_SIZE},
      {"large_size_huge.mp4", PutBE32(PutBE32(wide, mdat + 8, 0x100), mdat + 12, 0), MOVIE_PROBE_PAST_END},
      {"large_size_8.mp4", PutBE32(PutBE32(wide, mdat + 8, 0), mdat + 12, 8), MOVIE_PROBE_BAD_SIZE},
      {"moov_missing.mp4", Rename(mp4, moov + 4, "moox"), MOVIE_PROBE_NO_HEADER},
      {"mvhd_missing.mp4", Rename(mp4, mvhd + 4, "mvhx"), MOVIE_PROBE_NO_HEADER},
      {"trak_past_moov.mp4", PutBE32(mp4, trak, static_cast<uint32_t>(size)), MOVIE_PROBE_PAST_END},
      {"moov_type_binary.mp4", Put(mp4, moov + 4, {0x01, 0x02, 0x03, 0x04}), MOVIE_PROBE_BAD_STRUCTURE},
  };
}

// From an MPEG-1 system stream (12-byte packs) and an MPEG-2 program
// stream (14-byte packs), each of two 2048-byte packs with video packets.
inline std::vector<DamagedMovie> DamagedProgramStreams(const Bytes& mpg, const Bytes& vob) {
  const size_t packet = FindStartCode(mpg, 0xE0);
  const size_t secondPack = FindStartCode(mpg, 0xBA, 1), secondVobPack = FindStartCode(vob, 0xBA, 1);
  Bytes noVideo = mpg;
  for (size_t at; (at = FindStartCode(noVideo, 0xE0)) != kNoTag;) noVideo[at + 3] = 0xBE;
  return {
      {"too_short.mpg", Cut(mpg, 10), MOVIE_PROBE_NOT_A_CONTAINER},
      {"second_pack_cut.mpg", Cut(mpg, secondPack + 6), MOVIE_PROBE_PAST_END},
      {"packet_cut.mpg", Cut(mpg, packet + 100), MOVIE_PROBE_PAST_END},
      {"packet_length_huge.mpg", Put(mpg, packet + 4, {0xFF, 0xFF}), MOVIE_PROBE_PAST_END},
      {"pack_marker.mpg", Put(mpg, 4, {0x00}), MOVIE_PROBE_BAD_STRUCTURE},
      {"mux_rate_zero.mpg", Put(mpg, 9, {0x80, 0x00, 0x01}), MOVIE_PROBE_BAD_SIZE},
      {"lost_sync.mpg", Put(mpg, secondPack + 2, {0x02}), MOVIE_PROBE_BAD_STRUCTURE},
      {"no_video.mpg", noVideo, MOVIE_PROBE_NO_HEADER},
      {"second_pack_cut.vob", Cut(vob, secondVobPack + 12), MOVIE_PROBE_PAST_END},
      {"stuffing_off.vob", Put(vob, 13, {static_cast<uint8_t>(vob[13] | 0x07)}), MOVIE_PROBE_BAD_STRUCTURE},
      {"mux_rate_zero.vob", Put(vob, 10, {0x00, 0x00, 0x03}), MOVIE_PROBE_BAD_SIZE},
  };
}

// From an Ogg Vorbis file of three pages (no Theora stream, so these reach
// the graph road).
inline std::vector<DamagedMovie> DamagedOggs(const Bytes& ogg) {
  const size_t size = ogg.size();
  const size_t second = FindTag(ogg, "OggS", 1), last = FindTag(ogg, "OggS", second + 1);
  return {
      {"cut_in_page.ogg", Cut(ogg, size - 10), MOVIE_PROBE_PAST_END},
      {"cut_in_header.ogg", Cut(ogg, second + 10), MOVIE_PROBE_PAST_END},
      {"segment_count.ogg", Put(ogg, 26, {static_cast<uint8_t>(ogg[26] + 1)}), MOVIE_PROBE_BAD_STRUCTURE},
      {"segment_long.ogg", Put(ogg, 27, {255}), MOVIE_PROBE_BAD_STRUCTURE},
      {"last_segment_long.ogg", Put(ogg, last + 27, {255}), MOVIE_PROBE_PAST_END},
      {"version.ogg", Put(ogg, 4, {1}), MOVIE_PROBE_BAD_STRUCTURE},
      {"flags.ogg", Put(ogg, 5, {0x0A}), MOVIE_PROBE_BAD_STRUCTURE},
      {"no_bos.ogg", Put(ogg, 5, {0}), MOVIE_PROBE_NO_HEADER},
      {"capture.ogg", Put(ogg, second, {'X'}), MOVIE_PROBE_BAD_STRUCTURE},
  };
}

// Rewritten files that stay valid: an MP4 whose mdat takes a 64-bit size,
// an AVI ending in an odd chunk with and without its pad byte, and a
// program stream with its end code.
inline std::vector<DamagedMovie> ValidRewrites(const Bytes& avi, const Bytes& mp4, const Bytes& mpg) {
  const size_t mdat = FindTag(mp4, "mdat") - 4;
  Bytes wide = PutBE32(mp4, mdat, 1);
  wide = PutBE32(PutBE32(wide, mdat + 8, 0), mdat + 12, BE32(mp4, mdat));
  Bytes padded = avi;  // a 1-byte JUNK chunk and its pad byte after idx1
  padded.insert(padded.end(), {'J', 'U', 'N', 'K', 1, 0, 0, 0, 0, 0});
  padded = PutLE32(padded, 4, static_cast<uint32_t>(padded.size() - 8));
  Bytes unpadded = Cut(padded, padded.size() - 1);
  unpadded = PutLE32(unpadded, 4, static_cast<uint32_t>(unpadded.size() - 8));
  Bytes ended = mpg;
  ended.insert(ended.end(), {0, 0, 1, 0xB9});
  return {{"wide_mdat.mp4", wide, MOVIE_PROBE_PLAYABLE},
          {"odd_chunk.avi", padded, MOVIE_PROBE_PLAYABLE},
          {"odd_chunk_no_pad.avi", unpadded, MOVIE_PROBE_PLAYABLE},
          {"end_code.mpg", ended, MOVIE_PROBE_PLAYABLE}};
}

}  // namespace movie_test

#endif  // DAMAGED_MOVIES_H
