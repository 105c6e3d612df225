// Damaged sound files through the whole converter (every format road, the
// platform's ACM codecs and the DirectShow last resort): header fields set to
// boundary values, files cut at every header byte, and seeded random byte
// flips. Each case must end cleanly within its time limit: refused with -1,
// or decoded into a playable PCM format without producing more than it
// claims; either way with no block left in the allocator. Rows the converter
// must refuse say so.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraSystem.h"
#include "SoundFixtures.h"
#include "TestFiles.h"
#include "VeRavoroString.h"
#include "VeVirudConvert.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

enum Expect { ANY, REFUSED };

struct Case {
  std::string name;
  Bytes bytes;
  Expect expect;
};

// Ends the program, naming the case, when one case runs past its limit: a
// hung converter cannot be stopped from inside.
struct Watchdog {
  static volatile LONG armed;
  static volatile DWORD started;
  static char name[256];
  static DWORD limitMs;
  static DWORD WINAPI Run(LPVOID) {
    for (;;) {
      Sleep(100);
      if (armed && GetTickCount() - started > limitMs) {
        printf("\n[  FAILED  ] case \"%s\" ran past %lu ms\n", name, static_cast<unsigned long>(limitMs));
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
};
volatile LONG Watchdog::armed = 0;
volatile DWORD Watchdog::started = 0;
char Watchdog::name[256];
DWORD Watchdog::limitMs = 4000;

class DamagedSound : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* scale = getenv("RIDOV_TIME_SCALE");
    const int factor = scale != nullptr && atoi(scale) > 0 ? atoi(scale) : 1;
    Watchdog::limitMs = static_cast<DWORD>(4000 * factor);
    CloseHandle(CreateThread(nullptr, 0, Watchdog::Run, nullptr, 0, nullptr));
  }
  void SetUp() override {
    log_.reset(new test_support::LogCapture("damaged_sound"));
    LoadSystemLibraries();
    InitializeCom();
    ASSERT_EQ(LoadAcmLibrary(), 0);
  }
  void TearDown() override {
    FreeAcmLibrary();
    TerminateCom();
    FreeSystemLibraries();
    log_.reset();
  }

  // Runs the case; a failure names it.
  void Check(const Case& k) {
    snprintf(Watchdog::name, sizeof(Watchdog::name), "%s", k.name.c_str());
    Watchdog::started = GetTickCount();
    InterlockedExchange(&Watchdog::armed, 1);
    const int before = GetAllocCount();
    {
      MemoryConversion m(k.bytes);
      const int begun = m.Begin(0);
      if (k.expect == REFUSED) {
        EXPECT_EQ(begun, -1) << k.name << " (kind " << m.conversion.kind << ")";
      }
      if (begun == 0) {
        WAVEFORMATEX format;
        GetConvertedWaveFormat(&m.conversion, &format);
        EXPECT_TRUE(IsPlayablePcmFormat(&format)) << k.name;
        const int claimed = GetConvertedSoundSize(&m.conversion);
        void* pcm = nullptr;
        int produced = -1;
        if (claimed >= 0 && claimed < (64 << 20) && ConvertWholeSound(&m.conversion, &format, &pcm, &produced) == 0) {
          EXPECT_LE(produced, claimed) << k.name;
          MemFree(pcm);
        }
        EXPECT_EQ(EndSoundConversion(&m.conversion), 0) << k.name;
      }
    }
    InterlockedExchange(&Watchdog::armed, 0);
    EXPECT_EQ(GetAllocCount(), before) << k.name;
  }
  void CheckAll(const std::vector<Case>& cases) {
    for (const Case& k : cases) Check(k);
  }

  std::unique_ptr<test_support::LogCapture> log_;
};

// ---- Building and patching files ----

Bytes Patch(Bytes b, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width && at + i < b.size(); i++) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
  return b;
}

size_t FindTag(const Bytes& b, const char* tag, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); i++)
    if (memcmp(&b[i], tag, 4) == 0) return i;
  return b.size();
}

// A WAVE_FORMAT_EXTENSIBLE chunk of PCM.
Bytes ExtensibleChunk(int channels, int rate, int bits) {
  Bytes f = FormatChunk(0xFFFE, channels, rate, bits, 40);
  f = Patch(f, 16, 22, 2);
  f = Patch(f, 18, static_cast<uint32_t>(bits), 2);
  f = Patch(f, 20, channels == 2 ? 3 : 4, 4);
  const unsigned char pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  memcpy(&f[24], pcm, 16);
  return f;
}

struct Base {
  std::string name;
  Bytes bytes;
  int tag;  // format tag of the source (0 for Ogg)
};

std::vector<Base> WaveBases() {
  const Bytes tone = ToBytes(Tone16(4000, 1, 22050, 440, 9000));
  Bytes pcm8(4000);
  for (size_t i = 0; i < pcm8.size(); i++) pcm8[i] = static_cast<unsigned char>(128 + (i % 50) - 25);
  Bytes pcm24;
  for (size_t i = 0; i < tone.size(); i += 2) pcm24.insert(pcm24.end(), {0, tone[i], tone[i + 1]});
  Bytes floats(4000 * 8);
  for (size_t i = 0; i < 8000; i++) {
    const float v = static_cast<float>((i % 100) - 50) / 60.0f;
    memcpy(&floats[i * 4], &v, 4);
  }
  return {
      {"pcm8 mono", PcmWave(1, 22050, 8, pcm8), 1},
      {"pcm16 stereo", PcmWave(2, 22050, 16, ToBytes(Tone16(2000, 2, 22050, 440, 9000))), 1},
      {"pcm24 mono", PcmWave(1, 22050, 24, pcm24), 1},
      {"float32 stereo", RiffWave({{"fmt ", FormatChunk(3, 2, 22050, 32)}, {"data", floats}}), 3},
      {"extensible", RiffWave({{"fmt ", ExtensibleChunk(2, 22050, 16)}, {"data", tone}}), 0xFFFE},
      {"u-law", test_support::ReadFileBytes(FixturePath("ulaw.wav")), 7},
      {"A-law", test_support::ReadFileBytes(FixturePath("alaw.wav")), 6},
      {"IMA ADPCM", test_support::ReadFileBytes(FixturePath("ima.wav")), 0x11},
      {"MS ADPCM", test_support::ReadFileBytes(FixturePath("msadpcm.wav")), 2},
  };
}

// ---- Ogg pages ----

uint32_t OggCrc(const unsigned char* data, size_t size) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; k++) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      table[i] = r;
    }
  }
  uint32_t crc = 0;
  for (size_t i = 0; i < size; i++) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc;
}

// Offsets of the pages, in order.
std::vector<size_t> OggPages(const Bytes& b) {
  std::vector<size_t> pages;
  size_t at = 0;
  while (at + 27 <= b.size() && memcmp(&b[at], "OggS", 4) == 0) {
    pages.push_back(at);
    size_t body = 0;
    for (int i = 0; i < b[at + 26]; i++) body += b[at + 27 + i];
    at += 27 + b[at + 26] + body;
  }
  return pages;
}

// Recomputes the CRC of the page at `at`.
Bytes FixOggCrc(Bytes b, size_t at) {
  size_t size = 27 + b[at + 26];
  for (int i = 0; i < b[at + 26]; i++) size += b[at + 27 + i];
  b = Patch(b, at + 22, 0, 4);
  return Patch(b, at + 22, OggCrc(&b[at], size), 4);
}

}  // namespace

// One row per header field and its neighbours, on every WAVE format.
TEST_F(DamagedSound, WaveHeaderFields) {
  struct Field {
    const char* name;
    int offset;  // from the format chunk's data; -8 and -4 are its id and size
    int width;
    std::vector<uint32_t> values;
    std::vector<uint32_t> refused;  // values every format must refuse
    int onlyTag;                    // 0: every format
  };
  const Field fields[] = {
      {"format tag", 0, 2, {0, 1, 2, 3, 6, 7, 0x11, 0x55, 0xFFFE, 0xFFFF}, {}, 0},
      {"channels", 2, 2, {0, 1, 2, 3, 9, 0xFFFF}, {0, 9, 0xFFFF}, 0},
      {"samples per second", 4, 4, {0, 1, 999, 0x1F3F, 200001, 0xFFFFFFFF}, {0, 1, 999, 200001, 0xFFFFFFFF}, 0},
      {"bytes per second", 8, 4, {0, 1, 0xFFFFFFFF}, {}, 0},
      {"block align", 12, 2, {0, 1, 2, 3, 5, 0xFFFF}, {0}, 0},
      {"bits per sample", 14, 2, {0, 1, 7, 33, 0xFFFF}, {}, 0},
      {"extra size", 16, 2, {0, 1, 0xFFFF}, {}, 0},
      {"samples per block", 18, 2, {0, 1, 0xFFFF}, {0}, 0x11},
      {"samples per block", 18, 2, {0, 1, 0xFFFF}, {0}, 2},
      {"coefficient count", 20, 2, {0, 1, 0xFFFF}, {0, 1}, 2},
      {"valid bits", 18, 2, {0, 0xFFFF}, {}, 0xFFFE},
      {"format chunk size", -4, 4, {0, 15, 17, 0xFFFF, 0xFFFFFFFF}, {}, 0},
  };
  std::vector<Case> cases;
  for (const Base& base : WaveBases()) {
    ASSERT_GT(base.bytes.size(), 60u) << base.name;
    const size_t format = FindTag(base.bytes, "fmt ") + 8;
    const size_t formatSize = ReadLE32(&base.bytes[format - 4]);
    for (const Field& f : fields) {
      if (f.onlyTag != 0 && f.onlyTag != base.tag) continue;
      if (f.offset >= 0 && static_cast<size_t>(f.offset + f.width) > formatSize) continue;
      for (uint32_t v : f.values) {
        bool refused = false;
        for (uint32_t r : f.refused) refused = refused || r == v;
        // A float frame narrower than its channels' floats is refused too.
        if (base.tag == 3 && f.offset == 12 && v < 8) refused = true;
        cases.push_back({base.name + ", " + f.name + " = " + std::to_string(v),
                         Patch(base.bytes, format + f.offset, v, f.width), refused ? REFUSED : ANY});
      }
    }
    const size_t data = FindTag(base.bytes, "data", format);
    for (uint32_t v : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu})
      cases.push_back({base.name + ", data size = " + std::to_string(v), Patch(base.bytes, data + 4, v, 4), ANY});
    cases.push_back({base.name + ", RIFF size = 0", Patch(base.bytes, 4, 0, 4), ANY});
  }
  CheckAll(cases);
}

// Cut at every byte of the headers and a little into the data.
TEST_F(DamagedSound, WaveCutAtEveryHeaderByte) {
  std::vector<Case> cases;
  for (const Base& base : WaveBases()) {
    const size_t end = FindTag(base.bytes, "data") + 8 + 4;
    for (size_t n = 0; n <= end && n < base.bytes.size(); n++)
      cases.push_back({base.name + " cut to " + std::to_string(n), Bytes(base.bytes.begin(), base.bytes.begin() + n),
                       n < end - 4 ? REFUSED : ANY});
  }
  CheckAll(cases);
}

// Ogg Vorbis: identification header fields (CRC fixed), page sequence
// numbers and granule positions, and cuts at and around every page boundary.
TEST_F(DamagedSound, OggVorbisHeadersAndCuts) {
  const Bytes ogg = test_support::ReadFileBytes(FixturePath("tone.ogg"));
  const std::vector<size_t> pages = OggPages(ogg);
  ASSERT_GE(pages.size(), 3u);
  const size_t id = pages[0] + 27 + ogg[pages[0] + 26];  // the identification packet
  ASSERT_EQ(memcmp(&ogg[id + 1], "vorbis", 6), 0);
  struct Field {
    const char* name;
    size_t at;
    int width;
    std::vector<uint32_t> values;
    Expect expect;
  };
  const Field fields[] = {
      {"channels", id + 11, 1, {0, 9, 255}, REFUSED},
      {"rate", id + 12, 4, {0, 1, 999, 0xFFFFFFFF}, REFUSED},
      {"block sizes", id + 28, 1, {0x00, 0x66, 0xFF}, ANY},
      {"version", id + 7, 4, {1, 0xFFFFFFFF}, REFUSED},
      {"first page sequence", pages[0] + 18, 4, {1, 0xFFFFFFFF}, ANY},
  };
  std::vector<Case> cases;
  for (const Field& f : fields)
    for (uint32_t v : f.values) {
      const size_t page = f.at >= pages[1] ? pages[1] : pages[0];
      cases.push_back({std::string("Ogg ") + f.name + " = " + std::to_string(v),
                       FixOggCrc(Patch(ogg, f.at, v, f.width), page), f.expect});
    }
  for (size_t p = 0; p < pages.size(); p++) {
    for (uint64_t g : {0x7FFFFFFFull, 0x4000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0ull}) {
      Bytes b = Patch(ogg, pages[p] + 6, static_cast<uint32_t>(g), 4);
      b = Patch(b, pages[p] + 10, static_cast<uint32_t>(g >> 32), 4);
      cases.push_back({"Ogg page " + std::to_string(p) + " granule " + std::to_string(g), FixOggCrc(b, pages[p]), ANY});
    }
    for (int d : {-1, 0, 1, 27, 100})
      if (pages[p] + d > 0 && pages[p] + d < ogg.size())
        cases.push_back({"Ogg cut to " + std::to_string(pages[p] + d), Bytes(ogg.begin(), ogg.begin() + pages[p] + d),
                         pages[p] + d < pages[2] ? REFUSED : ANY});
  }
  CheckAll(cases);
}

// Seeded random flips of header bytes: a modest count per file.
TEST_F(DamagedSound, RandomHeaderFlips) {
  std::vector<Base> bases = WaveBases();
  bases.push_back({"Ogg Vorbis", test_support::ReadFileBytes(FixturePath("tone.ogg")), 0});
  std::mt19937 random(4401);
  std::vector<Case> cases;
  for (const Base& base : bases) {
    const size_t span = base.tag == 0 ? 4200 : FindTag(base.bytes, "data") + 8;
    for (int i = 0; i < 25; i++) {
      Bytes b = base.bytes;
      const int flips = 1 + static_cast<int>(random() % 3);
      std::string name = base.name + " flipped at";
      for (int k = 0; k < flips; k++) {
        const size_t at = random() % span;
        b[at] = static_cast<unsigned char>(random());
        name += " " + std::to_string(at);
      }
      cases.push_back({name, b, ANY});
    }
  }
  CheckAll(cases);
}

// The graph road takes only MPEG audio: a short u-law header and a Vorbis
// stream claiming 255 channels never reach the platform's graph.
TEST_F(DamagedSound, OnlyMpegAudioReachesTheGraph) {
  const Bytes ulaw = test_support::ReadFileBytes(FixturePath("ulaw.wav"));
  const Bytes mp3 = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  struct Row {
    const char* name;
    Bytes bytes;
    bool mpeg;
  } rows[] = {
      {"u-law header of 38 bytes", Bytes(ulaw.begin(), ulaw.begin() + 38), false},
      {"u-law file", ulaw, false},
      {"MP3 file", mp3, true},
      {"MP3 cut inside its second frame", Bytes(mp3.begin(), mp3.begin() + 600), true},
      {"MP3 with its first header zeroed", Patch(mp3, 0, 0, 4), true},
      {"zeros", Bytes(4096, 0), false},
      {"0xFF bytes", Bytes(4096, 0xFF), false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(LooksLikeMpegAudio(r.bytes.data(), static_cast<int64_t>(r.bytes.size())), r.mpeg) << r.name;
  const int linesBefore = static_cast<int>(log_->Text().size());
  Check({"u-law header of 38 bytes", rows[0].bytes, REFUSED});
  EXPECT_NE(log_->Text().find("MPEGオーディオのフレームがありません", linesBefore), std::string::npos) << log_->Text();
}
