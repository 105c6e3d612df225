// Command-line archive packer.
//
//   packer [options] <folder> <archive>   packs the folder's contents
//   packer --lz <input> <output>          writes one LZ block of a file
//
// Options:
//   -v, --version N     archive version 0-6 (default 6)
//   -k, --key TEXT      key text (default: none)
//   --fallback-key      scramble with the fixed fallback key
//   -c, --code-page N   code page written by versions 4-6 (default 932)
//   -s, --store         store every file
//   -p, --pack          pack every file, also when it grows
//                       (default: pack a file when that makes it smaller;
//                       versions 0 and 1 always store)
//   --chain N           match-finder tree depth per position (default 48)
//   -q, --quiet         no summary
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ArchivePacker.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  fprintf(stderr,
          "usage: packer [-v N] [-k TEXT] [--fallback-key] [-c N] [-s|-p] [--chain N] [-q] <folder> <archive>\n"
          "       packer --lz <input> <output>\n");
  return 2;
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const fs::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

// Seconds since 1970 to a Windows file time (100 ns since 1601).
uint64_t FileTimeOf(const fs::path& path) {
  struct stat info;
  if (stat(path.string().c_str(), &info) != 0 || info.st_mtime < 0) return 0;
  return (static_cast<uint64_t>(info.st_mtime) + 11644473600ull) * 10000000ull;
}

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  const long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

int PackOneBlock(const char* input, const char* output, const LZPackOptions& lz) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(input, &data)) {
    fprintf(stderr, "packer: cannot read %s\n", input);
    return 1;
  }
  if (data.size() > 0x7FFFFFFFu) {
    fprintf(stderr, "packer: %s is too large for one block\n", input);
    return 1;
  }
  const std::vector<uint8_t> block = PackLZ(data.data(), data.size(), lz);
  if (!WriteWholeFile(output, block)) {
    fprintf(stderr, "packer: cannot write %s\n", output);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  PackerOptions options;
  bool quiet = false;
  bool lzOnly = false;
  std::vector<const char*> operands;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    long value = 0;
    if (!strcmp(a, "-v") || !strcmp(a, "--version")) {
      const char* v = next();
      if (v == nullptr || !ParseNumber(v, 0, 6, &value)) return Usage();
      options.version = static_cast<int>(value);
    } else if (!strcmp(a, "-k") || !strcmp(a, "--key")) {
      const char* v = next();
      if (v == nullptr) return Usage();
      options.keyText = v;
    } else if (!strcmp(a, "--fallback-key")) {
      options.fallbackKey = true;
    } else if (!strcmp(a, "-c") || !strcmp(a, "--code-page")) {
      const char* v = next();
      if (v == nullptr || !ParseNumber(v, 0, 65535, &value)) return Usage();
      options.codePage = static_cast<uint32_t>(value);
    } else if (!strcmp(a, "-s") || !strcmp(a, "--store")) {
      options.pack = PACK_NEVER;
    } else if (!strcmp(a, "-p") || !strcmp(a, "--pack")) {
      options.pack = PACK_ALWAYS;
    } else if (!strcmp(a, "--chain")) {
      const char* v = next();
      if (v == nullptr || !ParseNumber(v, 1, 1 << 20, &value)) return Usage();
      options.lz.chainLimit = static_cast<int>(value);
    } else if (!strcmp(a, "-q") || !strcmp(a, "--quiet")) {
      quiet = true;
    } else if (!strcmp(a, "--lz")) {
      lzOnly = true;
    } else if (a[0] == '-' && a[1] != '\0') {
      return Usage();
    } else {
      operands.push_back(a);
    }
  }
  if (operands.size() != 2) return Usage();
  if (lzOnly) return PackOneBlock(operands[0], operands[1], options.lz);

  const fs::path folder = operands[0];
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    fprintf(stderr, "packer: %s is not a folder\n", operands[0]);
    return 1;
  }

  // Every file and folder under the folder, in name order.
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) || it->is_regular_file(ec)) paths.push_back(it->path());
  }
  if (ec) {
    fprintf(stderr, "packer: cannot list %s: %s\n", operands[0], ec.message().c_str());
    return 1;
  }
  std::sort(paths.begin(), paths.end());

  std::vector<PackerEntry> entries;
  for (const fs::path& path : paths) {
    PackerEntry entry;
    std::string inside = path.lexically_relative(folder).generic_string();
    std::replace(inside.begin(), inside.end(), '/', '\\');
    entry.path = inside;
    entry.folder = fs::is_directory(path, ec);
    entry.lastWriteTime = entry.creationTime = entry.lastAccessTime = FileTimeOf(path);
    if (!entry.folder && !ReadWholeFile(path, &entry.data)) {
      fprintf(stderr, "packer: cannot read %s\n", path.string().c_str());
      return 1;
    }
    entries.push_back(std::move(entry));
  }

  std::vector<uint8_t> archive;
  PackerLayout layout;
  std::string error;
  if (!BuildArchive(entries, options, &archive, &layout, &error)) {
    fprintf(stderr, "packer: %s\n", error.c_str());
    return 1;
  }
  if (!WriteWholeFile(operands[1], archive)) {
    fprintf(stderr, "packer: cannot write %s\n", operands[1]);
    return 1;
  }
  if (!quiet) {
    uint64_t size = 0, stored = 0;
    size_t packed = 0;
    for (const PackerFileLayout& file : layout.files) {
      size += file.size;
      stored += file.storedSize;
      packed += file.packed ? 1 : 0;
    }
    printf("%s: version %d, %zu files (%zu packed), %llu -> %llu data bytes, %zu bytes in all\n", operands[1],
           options.version, layout.files.size(), packed, static_cast<unsigned long long>(size),
           static_cast<unsigned long long>(stored), archive.size());
  }
  return 0;
}
