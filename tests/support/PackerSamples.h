// Entries and options for archives the packer core builds in the tests.
#ifndef PACKER_SAMPLES_H
#define PACKER_SAMPLES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "ArchivePacker.h"

namespace test_support {

// Rows of a small palette, as a sprite's pixels: packs well.
std::vector<uint8_t> PixelBytes(size_t size);
std::vector<uint8_t> TextBytes(const std::string& text);

// Windows file time of noon on the day.
uint64_t FileTimeOf(int year, int month, int day);

// A file with fixed creation (2020-01-02), access (2021-03-04) and write
// (2022-05-06) times.
PackerEntry File(const std::string& path, const std::vector<uint8_t>& data);
PackerEntry Folder(const std::string& path);

PackerOptions Options(int version, int pack = PACK_AUTO, const std::string& key = "");

}  // namespace test_support

#endif  // PACKER_SAMPLES_H
