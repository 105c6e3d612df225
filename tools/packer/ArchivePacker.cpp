// Archive packer core: an LZ packer (binary-tree match finder, optimal
// parse of the fixed code costs), and the archive writer for every version
// the reader accepts.
#include "ArchivePacker.h"

#include <string.h>

#include <algorithm>
#include <deque>
#include <memory>

#include "RoRezedur_Format.h"

// ---------------------------------------------------------------------------
// LZ packer

namespace {

enum { HASH_BITS = 20 };
enum : uint32_t { NO_POSITION = 0xFFFFFFFFu };
// Positions kept in the match finder's tree: the window, as a power of two.
enum : uint32_t { TREE_BITS = 24 };
// The optimal parse runs over pieces of this many positions.
enum : uint32_t { PARSE_PIECE = 1u << 20 };

inline uint32_t Hash4(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - HASH_BITS);
}

inline int DistanceFieldSize(uint32_t distance) {
  const uint32_t field = distance - 1;
  return field < 0x100 ? 1 : field < 0x10000 ? 2 : 3;
}

// Bytes a copy code takes.
inline int CopyCost(uint32_t length, uint32_t distance) {
  return 2 + (length - LZ_MIN_LENGTH >= 32 ? 1 : 0) + DistanceFieldSize(distance);
}

// How far `a` and `b` agree from `length` on, at most to `limit`: the first
// byte alone (most candidates end there), then eight bytes a step.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t length, uint32_t limit) {
  if (length < limit && a[length] != b[length]) return length;
  while (length + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + length, 8);
    memcpy(&y, b + length, 8);
    if (x != y) return length + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

struct Match {
  uint32_t length;
  uint32_t distance;
};

// Binary-tree match finder: every position is a node of the tree of the
// strings that start with its hash, ordered by their bytes; one walk from
// the root inserts a position and finds, for rising lengths, the nearest
// earlier position that matches that far. Nodes past the window or the
// depth limit drop out of the tree.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size, int depth, int niceLength)
      : data_(data), size_(size), depth_(depth < 1 ? 1 : depth),
        nice_(static_cast<uint32_t>(
            std::min(std::max(niceLength, static_cast<int>(LZ_MIN_LENGTH)), static_cast<int>(LZ_MAX_LENGTH)))),
        head_(1u << HASH_BITS, NO_POSITION) {
    uint32_t slots = 1;
    while (slots < size && slots < (1u << TREE_BITS)) slots <<= 1;
    mask_ = slots - 1;
    tree_.assign(static_cast<size_t>(slots) * 2, NO_POSITION);
  }

  // Inserts position i and, when `found` is given, stores the matches of
  // rising length (at most one per length) and returns their count.
  int Insert(size_t i, Match* found) {
    if (i + LZ_MIN_LENGTH > size_) return 0;
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(LZ_MAX_LENGTH, size_ - i));
    const uint32_t maxLength = std::min(limit, nice_);
    const uint8_t* here = data_ + i;
    const uint32_t h = Hash4(here);
    uint32_t candidate = head_[h];
    head_[h] = static_cast<uint32_t>(i);
    uint32_t* left = &tree_[(i & mask_) * 2];  // subtree of smaller strings
    uint32_t* right = &tree_[(i & mask_) * 2 + 1];
    uint32_t leftLength = 0, rightLength = 0;
    uint32_t best = LZ_MIN_LENGTH - 1;
    int count = 0;
    for (int depth = depth_;; --depth) {
      if (candidate == NO_POSITION || depth == 0 || i - candidate >= mask_ || i - candidate >= LZ_MAX_DISTANCE) {
        *left = *right = NO_POSITION;
        break;
      }
      const uint8_t* there = data_ + candidate;
      uint32_t* node = &tree_[(candidate & mask_) * 2];
      const uint32_t prefix = std::min(leftLength, rightLength);
      const uint32_t length = MatchLength(there, here, prefix, maxLength);
      if (length > best) {
        best = length;
        if (found != nullptr) {
          const uint32_t full = length == maxLength ? MatchLength(there, here, length, limit) : length;
          found[count].length = full;
          found[count].distance = static_cast<uint32_t>(i - candidate);
          ++count;
        }
      }
      if (length == maxLength) {
        // Equal as far as compared: the new node takes this one's place.
        *left = node[0];
        *right = node[1];
        break;
      }
      if (there[length] < here[length]) {
        *left = candidate;
        left = &node[1];
        candidate = *left;
        leftLength = length;
      } else {
        *right = candidate;
        right = &node[0];
        candidate = *right;
        rightLength = length;
      }
    }
    return count;
  }

  uint32_t nice() const { return nice_; }

 private:
  const uint8_t* data_;
  size_t size_;
  int depth_;
  uint32_t nice_;
  uint32_t mask_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> tree_;
};

void Put32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Price of a parse: its bytes in the high bits, its copies in the low 24
// (a piece has fewer), so that the fewest bytes always win and of two parses
// of the same size the one with fewer copies does (it unpacks faster).
typedef uint64_t Price;
enum : uint32_t { PRICE_BYTE_SHIFT = 24 };
const Price NO_PRICE = ~static_cast<Price>(0);
static_assert(PARSE_PIECE / LZ_MIN_LENGTH < (1u << PRICE_BYTE_SHIFT), "a piece's copies fit the low bits");

inline Price LiteralPrice(uint8_t byte, uint8_t escape) {
  return static_cast<Price>(byte == escape ? 2 : 1) << PRICE_BYTE_SHIFT;
}

inline Price CopyPrice(uint32_t length, uint32_t distance) {
  return (static_cast<Price>(CopyCost(length, distance)) << PRICE_BYTE_SHIFT) + 1;
}

}  // namespace

std::vector<uint8_t> PackLZ(const uint8_t* data, size_t size, const LZPackOptions& options) {
  int escape = options.escape;
  if (escape < 0 || escape > 255) {
    size_t counts[256] = {};
    for (size_t i = 0; i < size; ++i) ++counts[data[i]];
    escape = static_cast<int>(std::min_element(counts, counts + 256) - counts);
  }
  const uint8_t esc = static_cast<uint8_t>(escape);

  std::vector<uint8_t> out;
  out.reserve(size + size / 64 + 32);
  out.resize(LZ_HEAD_SIZE);
  out[8] = esc;

  auto literal = [&](uint8_t b) {
    out.push_back(b);
    if (b == esc) out.push_back(esc);
  };
  auto copy = [&](uint32_t length, uint32_t distance) {
    const uint32_t extra = length - LZ_MIN_LENGTH;
    const int fieldSize = DistanceFieldSize(distance);
    unsigned v = ((extra & 31) << 3) | (extra >= 32 ? LZ_CODE_EXTENDED : 0) | static_cast<unsigned>(fieldSize - 1);
    if (v >= esc) ++v;
    out.push_back(esc);
    out.push_back(static_cast<uint8_t>(v));
    if (extra >= 32) out.push_back(static_cast<uint8_t>(extra >> 5));
    const uint32_t field = distance - 1;
    for (int i = 0; i < fieldSize; ++i) out.push_back(static_cast<uint8_t>(field >> (8 * i)));
  };

  MatchFinder finder(data, size, options.chainLimit, options.niceLength);
  std::vector<Match> found(LZ_MAX_LENGTH + 1);

  if (!options.lazy) {
    // Greedy: the longest copy at each position.
    size_t i = 0;
    while (i < size) {
      const int count = finder.Insert(i, found.data());
      const Match m = count > 0 ? found[count - 1] : Match{0, 0};
      if (count > 0 && static_cast<int>(m.length) > CopyCost(m.length, m.distance)) {
        copy(m.length, m.distance);
        for (size_t j = i + 1; j < i + m.length; ++j) finder.Insert(j, nullptr);
        i += m.length;
      } else {
        literal(data[i]);
        ++i;
      }
    }
  } else {
    // Optimal parse over pieces: the cheapest way to reach each position
    // from the piece's start, by a literal or by any length of the copies
    // found there; a copy of the nice length or longer is taken at once.
    std::vector<Price> price(PARSE_PIECE + 1);
    std::vector<uint32_t> stepLength(PARSE_PIECE + 1);  // 1: literal
    std::vector<uint32_t> stepDistance(PARSE_PIECE + 1);
    std::vector<uint32_t> path;
    size_t pieceStart = 0;
    while (pieceStart < size) {
      const uint32_t pieceSize = static_cast<uint32_t>(std::min<size_t>(PARSE_PIECE, size - pieceStart));
      std::fill(price.begin(), price.begin() + pieceSize + 1, NO_PRICE);
      price[0] = 0;
      uint32_t p = 0;
      while (p < pieceSize) {
        const size_t i = pieceStart + p;
        const Price here = price[p];
        const Price literalPrice = here + LiteralPrice(data[i], esc);
        if (literalPrice < price[p + 1]) {
          price[p + 1] = literalPrice;
          stepLength[p + 1] = 1;
        }
        const int count = finder.Insert(i, found.data());
        if (count == 0) {
          ++p;
          continue;
        }
        const uint32_t room = pieceSize - p;
        const Match& longest = found[count - 1];
        if (longest.length >= finder.nice()) {
          const uint32_t length = std::min(longest.length, room);
          if (length >= LZ_MIN_LENGTH) {
            const Price copyPrice = here + CopyPrice(length, longest.distance);
            if (copyPrice < price[p + length]) {
              price[p + length] = copyPrice;
              stepLength[p + length] = length;
              stepDistance[p + length] = longest.distance;
            }
            for (uint32_t j = 1; j < length; ++j) finder.Insert(i + j, nullptr);
            p += length;
            continue;
          }
        }
        uint32_t length = LZ_MIN_LENGTH;
        for (int k = 0; k < count; ++k) {
          const uint32_t end = std::min(found[k].length, room);
          const uint32_t distance = found[k].distance;
          for (; length <= end; ++length) {
            const Price copyPrice = here + CopyPrice(length, distance);
            if (copyPrice < price[p + length]) {
              price[p + length] = copyPrice;
              stepLength[p + length] = length;
              stepDistance[p + length] = distance;
            }
          }
        }
        ++p;
      }
      // Walk back from the piece's end and write the steps in order.
      path.clear();
      for (uint32_t q = pieceSize; q > 0; q -= stepLength[q]) path.push_back(q);
      for (size_t k = path.size(); k-- > 0;) {
        const uint32_t q = path[k];
        const uint32_t length = stepLength[q];
        if (length == 1) literal(data[pieceStart + q - 1]);
        else copy(length, stepDistance[q]);
      }
      pieceStart += pieceSize;
    }
  }
  Put32(&out, 0, static_cast<uint32_t>(size));
  Put32(&out, 4, static_cast<uint32_t>(out.size()));
  return out;
}

// ---------------------------------------------------------------------------
// Archive writer

namespace {

struct Node {
  std::string name;   // as written
  std::string upper;  // a-z upper-cased, double-byte characters kept
  bool folder = false;
  const PackerEntry* entry = nullptr;  // null for made folders and the root
  std::vector<Node*> children;
  Node* parent = nullptr;
  // Layout.
  uint64_t nameOffset = 0;
  uint64_t entryOffset = 0;      // in the file table
  uint64_t directoryOffset = 0;  // folders: in the directory table
  uint64_t dataOffset = 0;       // files: in the data area
  std::vector<uint8_t> stored;   // files: the bytes in the data area
  bool packed = false;
  std::string fullPath;
};

std::string UpperName(const std::string& name, int charSet) {
  std::string upper = name;
  for (size_t i = 0; i < upper.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(upper[i]);
    if (ArchiveIsLeadByte(c, charSet) && i + 1 < upper.size()) {
      ++i;
      continue;
    }
    if (c >= 'a' && c <= 'z') upper[i] = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Splits at "\" and "/" that are not trail bytes.
bool SplitPath(const std::string& path, int charSet, std::vector<std::string>* parts) {
  std::string part;
  for (size_t i = 0; i < path.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(path[i]);
    if (ArchiveIsLeadByte(c, charSet) && i + 1 < path.size()) {
      part += path[i];
      part += path[++i];
      continue;
    }
    if (c == '\\' || c == '/') {
      if (part.empty()) {
        if (i == 0) continue;  // a leading separator
        return false;
      }
      parts->push_back(part);
      part.clear();
      continue;
    }
    part += path[i];
  }
  if (!part.empty()) parts->push_back(part);
  return !parts->empty();
}

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>* out) : out_(out) {}
  void Put(uint64_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) (*out_)[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }

 private:
  std::vector<uint8_t>* out_;
};

void AppendName(std::vector<uint8_t>* table, const Node& node) {
  const uint16_t units = ArchiveNameUnits(static_cast<int>(node.name.size()));
  uint16_t sum = 0;
  for (char c : node.upper) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
  const size_t at = table->size();
  table->resize(at + 4 + units * 8u, 0);
  (*table)[at] = static_cast<uint8_t>(units);
  (*table)[at + 1] = static_cast<uint8_t>(units >> 8);
  (*table)[at + 2] = static_cast<uint8_t>(sum);
  (*table)[at + 3] = static_cast<uint8_t>(sum >> 8);
  memcpy(table->data() + at + 4, node.upper.data(), node.upper.size());
  memcpy(table->data() + at + 4 + units * 4u, node.name.data(), node.name.size());
}

void ApplyKey(uint8_t* data, size_t size, uint64_t keyPosition, const uint8_t* key) {
  for (size_t i = 0; i < size; ++i) data[i] ^= key[(keyPosition + i) % ARCHIVE_KEY_SIZE];
}

}  // namespace

bool BuildArchive(const std::vector<PackerEntry>& entries, const PackerOptions& options, std::vector<uint8_t>* archive,
                  PackerLayout* layout, std::string* error) {
  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  };
  const int version = options.version;
  if (version < 0 || version > ARCHIVE_VERSION_MAX) return fail("unknown archive version " + std::to_string(version));
  const int charSet = version >= 4 ? ArchiveCodePageToCharSet(options.codePage) : 0;

  // Folder tree, children in the order given.
  std::deque<Node> nodes;
  nodes.emplace_back();
  Node* root = &nodes.front();
  root->folder = true;
  for (const PackerEntry& entry : entries) {
    std::vector<std::string> parts;
    if (!SplitPath(entry.path, charSet, &parts)) return fail("bad path \"" + entry.path + "\"");
    Node* folder = root;
    std::string fullPath;
    for (size_t p = 0; p < parts.size(); ++p) {
      const bool last = p + 1 == parts.size();
      const std::string& part = parts[p];
      if (part.size() + 1 > static_cast<size_t>(ARCHIVE_NAME_MAX))
        return fail("name too long in \"" + entry.path + "\"");
      fullPath += (fullPath.empty() ? "" : "\\") + part;
      const std::string upper = UpperName(part, charSet);
      Node* found = nullptr;
      for (Node* child : folder->children)
        if (child->upper == upper) found = child;
      const bool wantFolder = !last || entry.folder;
      if (found != nullptr) {
        if (!found->folder || !wantFolder || (last && found->entry != nullptr))
          return fail("duplicate name \"" + fullPath + "\"");
        if (last) found->entry = &entry;
        folder = found;
        continue;
      }
      nodes.emplace_back();
      Node* node = &nodes.back();
      node->name = part;
      node->upper = upper;
      node->folder = wantFolder;
      node->fullPath = fullPath;
      if (last) node->entry = &entry;
      node->parent = folder;
      folder->children.push_back(node);
      folder = node;
    }
  }

  // Folders in breadth-first order, the root first.
  std::vector<Node*> folders{root};
  for (size_t f = 0; f < folders.size(); ++f)
    for (Node* child : folders[f]->children)
      if (child->folder) folders.push_back(child);

  const uint64_t entrySize = ArchiveFileEntrySize(version);
  const uint64_t directorySize = ArchiveDirectoryEntrySize(version);
  const uint64_t headerSize = ArchiveHeaderSize(version);

  // Names: the root's (empty) first, then every folder's children.
  std::vector<uint8_t> nameTable;
  root->nameOffset = 0;
  AppendName(&nameTable, *root);
  for (Node* folder : folders)
    for (Node* child : folder->children) {
      child->nameOffset = nameTable.size();
      AppendName(&nameTable, *child);
    }

  // File table: the root's own entry, then each folder's entries together.
  uint64_t fileTableSize = entrySize;
  std::vector<uint64_t> firstEntry(folders.size());
  for (size_t f = 0; f < folders.size(); ++f) {
    firstEntry[f] = fileTableSize;
    for (Node* child : folders[f]->children) {
      child->entryOffset = fileTableSize;
      fileTableSize += entrySize;
    }
  }
  for (size_t f = 0; f < folders.size(); ++f) folders[f]->directoryOffset = f * directorySize;

  // Data: each file packed or stored, in table order.
  uint64_t dataSize = 0;
  for (Node* folder : folders)
    for (Node* child : folder->children) {
      if (child->folder) continue;
      const std::vector<uint8_t>& data = child->entry->data;
      int mode = child->entry->pack == PACK_DEFAULT ? options.pack : child->entry->pack;
      if (!ArchiveCanPack(version)) mode = PACK_NEVER;
      if (mode != PACK_NEVER) {
        std::vector<uint8_t> packed = PackLZ(data.data(), data.size(), options.lz);
        if (mode == PACK_ALWAYS || packed.size() < data.size()) {
          child->stored = std::move(packed);
          child->packed = true;
        }
      }
      if (!child->packed) child->stored = data;
      child->dataOffset = dataSize;
      dataSize += child->stored.size();
    }

  const uint64_t nameTableSize = nameTable.size();
  const uint64_t fileTableOffset = nameTableSize;
  const uint64_t directoryTableOffset = fileTableOffset + fileTableSize;
  const uint64_t tableSize = directoryTableOffset + directorySize * folders.size();
  const uint64_t dataOffset = headerSize;
  const uint64_t tableOffset = dataOffset + dataSize;
  const uint64_t total = tableOffset + tableSize;
  if (tableSize > 0xFFFFFFFFull || (version < 6 && total > 0xFFFFFFFFull))
    return fail("archive too large for version " + std::to_string(version));
  if (sizeof(size_t) < 8 && total > 0x7FFFFFFFull) return fail("archive too large to build here");

  std::vector<uint8_t>& out = *archive;
  out.assign(static_cast<size_t>(total), 0);
  Writer w(&out);
  const int wide = version >= 6 ? 8 : 4;

  // Header.
  w.Put(0, ARCHIVE_MAGIC, 2);
  w.Put(2, static_cast<uint64_t>(version), 2);
  w.Put(4, tableSize, 4);
  w.Put(8, dataOffset, wide);
  w.Put(8 + wide, tableOffset, wide);
  w.Put(8 + 2 * wide, fileTableOffset, wide);
  w.Put(8 + 3 * wide, directoryTableOffset, wide);
  if (version >= 4) w.Put(8 + 4 * wide, options.codePage, wide);

  // Data.
  for (Node* folder : folders)
    for (Node* child : folder->children)
      if (!child->folder && !child->stored.empty())
        memcpy(out.data() + dataOffset + child->dataOffset, child->stored.data(), child->stored.size());

  // Tables.
  memcpy(out.data() + tableOffset, nameTable.data(), nameTable.size());
  auto putEntry = [&](const Node* node, uint64_t at, uint64_t firstOrData) {
    const uint64_t p = tableOffset + fileTableOffset + at;
    const PackerEntry* e = node->entry;
    uint64_t attributes = e != nullptr && e->attributes != 0 ? e->attributes : node->folder ? 0x10 : 0x20;
    if (node->folder) attributes |= ARCHIVE_ATTRIBUTE_DIRECTORY;
    else attributes &= ~static_cast<uint64_t>(ARCHIVE_ATTRIBUTE_DIRECTORY);
    const uint64_t size = node->folder || e == nullptr ? 0 : e->data.size();
    const uint64_t times[3] = {e != nullptr ? e->creationTime : 0, e != nullptr ? e->lastAccessTime : 0,
                               e != nullptr ? e->lastWriteTime : 0};
    if (version >= 6) {
      w.Put(p, node->nameOffset, 8);
      w.Put(p + 8, attributes, 8);
      for (int t = 0; t < 3; ++t) w.Put(p + 16 + 8 * t, times[t], 8);
      w.Put(p + 40, firstOrData, 8);
      w.Put(p + 48, size, 8);
      w.Put(p + 56, node->packed ? node->stored.size() : ARCHIVE_STORED_64, 8);
    } else {
      w.Put(p, node->nameOffset, 4);
      w.Put(p + 4, attributes, 4);
      for (int t = 0; t < 3; ++t) w.Put(p + 8 + 8 * t, times[t], 8);
      w.Put(p + 32, firstOrData, 4);
      w.Put(p + 36, size, 4);
      if (ArchiveCanPack(version)) w.Put(p + 40, node->packed ? node->stored.size() : ARCHIVE_STORED_32, 4);
    }
  };
  putEntry(root, 0, 0);
  for (size_t f = 0; f < folders.size(); ++f) {
    for (Node* child : folders[f]->children)
      putEntry(child, child->entryOffset, child->folder ? child->directoryOffset : child->dataOffset);
    const uint64_t p = tableOffset + directoryTableOffset + folders[f]->directoryOffset;
    const uint64_t parent = f == 0 ? ARCHIVE_NO_PARENT_64 : folders[f]->parent->directoryOffset;
    const uint64_t ownEntry = f == 0 ? 0 : folders[f]->entryOffset;
    const uint64_t count = folders[f]->children.size();
    if (version >= 6) {
      w.Put(p, ownEntry, 8);
      w.Put(p + 8, parent, 8);
      w.Put(p + 16, count, 8);
      w.Put(p + 24, firstEntry[f], 8);
    } else {
      w.Put(p, ownEntry, 4);
      w.Put(p + 4, parent, 4);
      w.Put(p + 8, count, 4);
      w.Put(p + 12, firstEntry[f], 4);
    }
  }

  // Scrambling.
  uint8_t key[ARCHIVE_KEY_SIZE];
  if (options.fallbackKey) BuildArchiveFallbackKey(key);
  else BuildArchiveKey(options.keyText.c_str(), key);
  if (!ArchiveScramblesByPart(version)) {
    ApplyKey(out.data(), out.size(), 0, key);
  } else {
    ApplyKey(out.data(), static_cast<size_t>(headerSize), 0, key);
    ApplyKey(out.data() + tableOffset, static_cast<size_t>(tableSize), 0, key);
    for (Node* folder : folders)
      for (Node* child : folder->children)
        if (!child->folder)
          ApplyKey(out.data() + dataOffset + child->dataOffset, child->stored.size(), child->entry->data.size(), key);
  }

  if (layout != nullptr) {
    *layout = PackerLayout();
    layout->headerSize = headerSize;
    layout->dataOffset = dataOffset;
    layout->tableOffset = tableOffset;
    layout->tableSize = tableSize;
    layout->fileTableOffset = fileTableOffset;
    layout->directoryTableOffset = directoryTableOffset;
    memcpy(layout->key, key, sizeof(key));
    for (Node* folder : folders)
      for (Node* child : folder->children) {
        if (child->folder) continue;
        PackerFileLayout file;
        file.path = child->fullPath;
        file.entryPosition = tableOffset + fileTableOffset + child->entryOffset;
        file.dataPosition = dataOffset + child->dataOffset;
        file.size = child->entry->data.size();
        file.storedSize = child->stored.size();
        file.packed = child->packed;
        layout->files.push_back(file);
      }
  }
  return true;
}
