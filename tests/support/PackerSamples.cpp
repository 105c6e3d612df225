#include "PackerSamples.h"

#include <windows.h>

namespace test_support {

std::vector<uint8_t> PixelBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(((i / 4) % 37 < 20 ? 0x40 : 0xC0) + (i % 4) * 3);
  return bytes;
}

std::vector<uint8_t> TextBytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

uint64_t FileTimeOf(int year, int month, int day) {
  SYSTEMTIME s = {};
  s.wYear = static_cast<WORD>(year);
  s.wMonth = static_cast<WORD>(month);
  s.wDay = static_cast<WORD>(day);
  s.wHour = 12;
  FILETIME f;
  SystemTimeToFileTime(&s, &f);
  return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

PackerEntry File(const std::string& path, const std::vector<uint8_t>& data) {
  PackerEntry entry;
  entry.path = path;
  entry.data = data;
  entry.creationTime = FileTimeOf(2020, 1, 2);
  entry.lastAccessTime = FileTimeOf(2021, 3, 4);
  entry.lastWriteTime = FileTimeOf(2022, 5, 6);
  return entry;
}

PackerEntry Folder(const std::string& path) {
  PackerEntry entry;
  entry.path = path;
  entry.folder = true;
  return entry;
}

PackerOptions Options(int version, int pack, const std::string& key) {
  PackerOptions options;
  options.version = version;
  options.pack = pack;
  options.keyText = key;
  return options;
}

}  // namespace test_support
