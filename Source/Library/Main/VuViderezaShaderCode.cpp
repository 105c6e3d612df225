// Embedded shader code. The build compiles the library's shaders and packs
// them into four LZ blocks linked into the program (ShaderCodeBlocks.cpp,
// generated): the base-shader archive, the filter-shader archive, the
// model code table and the channel-mixing code table (a table: u16 sizes,
// then the code in head order, size 0 = empty entry). The first set-up
// unpacks them into tracked memory and opens the archives in memory.
// Also the light-combination tables and the model shader choice.
// Threads: main thread only.
// Platform: none (the archive and LZ layers of the library).
#include "VuViderezaShaderCode.h"

#include <string.h>

#include "RuRovoreziZuzu.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShadowMap.h"
#include "ZiDezaru.h"

extern const unsigned char ShaderBlockBase[];
extern const size_t ShaderBlockBaseSize;
extern const unsigned char ShaderBlockFilter[];
extern const size_t ShaderBlockFilterSize;
extern const unsigned char ShaderBlockModel[];
extern const size_t ShaderBlockModelSize;
extern const unsigned char ShaderBlockRgbaMix[];
extern const size_t ShaderBlockRgbaMixSize;

ShaderCodeState ShaderCode;
ModelShaderSelection ModelShaderChoice;

const int ModelShaderGroupSizes[MODEL_SHADER_GROUPS] = {48, 32256, 6720, 12, 3, 12, 3840, 10, 7680, 1600};

namespace {

const ShaderCodeBlocks BuiltInBlocks = {ShaderBlockBase,       ShaderBlockBaseSize,   ShaderBlockFilter,
                                        ShaderBlockFilterSize, ShaderBlockModel,      ShaderBlockModelSize,
                                        ShaderBlockRgbaMix,    ShaderBlockRgbaMixSize};
const ShaderCodeBlocks* Blocks = &BuiltInBlocks;

// Unpacks one block into tracked memory; null when damaged. The block's
// own head must agree with the bytes the program holds.
void* UnpackBlock(const uint8_t* block, size_t size, uint32_t* unpackedSize) {
  if (block == nullptr || size < 9) return nullptr;
  const uint32_t packed = block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24;
  if (packed != size) return nullptr;
  const int unpacked = UnpackLZ(block, nullptr);
  if (unpacked < 0) return nullptr;
  void* buffer = MEM_ALLOC_ZEROED(unpacked > 0 ? unpacked : 1);
  if (buffer == nullptr) return nullptr;
  if (UnpackLZ(block, buffer) != unpacked) {
    MemFree(buffer);
    return nullptr;
  }
  *unpackedSize = static_cast<uint32_t>(unpacked);
  return buffer;
}

// Points the entries at the code after a head of `headSizes` u16 sizes.
bool FillTable(const uint8_t* data, uint32_t size, int headSizes, ShaderCodeEntry* entries, int count) {
  const uint32_t head = static_cast<uint32_t>(headSizes) * 2;
  if (size < head) return false;
  uint32_t offset = head;
  for (int i = 0; i < count; i++) {
    const uint16_t codeSize = static_cast<uint16_t>(data[i * 2] | data[i * 2 + 1] << 8);
    if (codeSize > size - offset) return false;
    entries[i].code = codeSize != 0 ? data + offset : nullptr;
    entries[i].size = codeSize;
    offset += codeSize;
  }
  return true;
}

void FreeAll() {
  ShaderCodeState& s = ShaderCode;
  CloseArchive(&s.baseArchive);
  CloseArchive(&s.filterArchive);
  void** buffers[4] = {&s.baseBuffer, &s.filterBuffer, &s.modelBuffer, &s.rgbaMixBuffer};
  for (void** b : buffers) {
    if (*b != nullptr) MemFree(*b);
    *b = nullptr;
  }
  memset(s.modelEntries, 0, sizeof s.modelEntries);
  memset(s.rgbaMix, 0, sizeof s.rgbaMix);
}

}  // namespace

const ShaderCodeBlocks* GetBuiltInShaderCodeBlocks() { return &BuiltInBlocks; }
void SetShaderCodeBlocks(const ShaderCodeBlocks* blocks) { Blocks = blocks != nullptr ? blocks : &BuiltInBlocks; }

void BuildLightCombinationTables(uint16_t* table6, uint16_t* table3, uint16_t* mix3) {
  memset(table6, 0, 4096 * sizeof *table6);
  memset(table3, 0, 64 * sizeof *table3);
  memset(mix3, 0, 27 * sizeof *mix3);
  int n = 0;
  for (int index = 0; index < 4096; index++) {  // lexicographic order of (t1..t6)
    int t[6];
    for (int k = 0; k < 6; k++) t[k] = (index >> (2 * (5 - k))) & 3;
    bool ok = true;
    for (int k = 0; k < 5; k++) ok = ok && t[k] >= t[k + 1];
    if (ok) table6[index] = static_cast<uint16_t>(n++);
  }
  n = 0;
  for (int index = 0; index < 64; index++) {
    const int a = index >> 4, b = (index >> 2) & 3, c = index & 3;
    if (a >= b && b >= c) table3[index] = static_cast<uint16_t>(n++);
  }
  n = 0;
  for (int index = 0; index < 27; index++) {
    const int a = index / 9, b = (index / 3) % 3, c = index % 3;
    if (a >= b && b >= c) mix3[index] = static_cast<uint16_t>(n++);
  }
}

int SetupShaderCodeArchives() {
  ShaderCodeState& s = ShaderCode;
  if (s.setUp) return 1;
  s.baseBuffer = s.filterBuffer = s.modelBuffer = s.rgbaMixBuffer = nullptr;
  InitArchiveRecord(&s.baseArchive);
  InitArchiveRecord(&s.filterArchive);
  uint32_t size = 0;
  s.baseBuffer = UnpackBlock(Blocks->base, Blocks->baseSize, &size);
  if (s.baseBuffer == nullptr || OpenArchiveFromMemory(&s.baseArchive, s.baseBuffer, size, nullptr) != 0) goto failed;
  s.rgbaMixBuffer = UnpackBlock(Blocks->rgbaMix, Blocks->rgbaMixSize, &size);
  if (s.rgbaMixBuffer == nullptr ||
      !FillTable(static_cast<const uint8_t*>(s.rgbaMixBuffer), size, RGBA_MIX_ENTRIES, s.rgbaMix, RGBA_MIX_ENTRIES))
    goto failed;
  s.filterBuffer = UnpackBlock(Blocks->filter, Blocks->filterSize, &size);
  if (s.filterBuffer == nullptr || OpenArchiveFromMemory(&s.filterArchive, s.filterBuffer, size, nullptr) != 0)
    goto failed;
  BuildLightCombinationTables(s.lightTable6, s.lightTable3, s.mixTable3);
  s.modelBuffer = UnpackBlock(Blocks->model, Blocks->modelSize, &size);
  if (s.modelBuffer == nullptr || !FillTable(static_cast<const uint8_t*>(s.modelBuffer), size, MODEL_SHADER_HEAD_SIZES,
                                             s.modelEntries, MODEL_SHADER_ENTRIES))
    goto failed;
  {
    int at = 0;
    for (int g = 0; g < MODEL_SHADER_GROUPS; g++) {
      s.groups[g] = &s.modelEntries[at];
      at += ModelShaderGroupSizes[g];
    }
  }
  s.setUp = 1;
  return 1;

failed:
  FreeAll();
  return 0;
}

int ReleaseShaderCodeArchives() {
  if (ShaderCode.setUp) FreeAll();
  ShaderCode.setUp = 0;
  return 1;
}

int FindShaderCode(int archive, const char* name, const void** code, uint32_t* size) {
  if (!ShaderCode.setUp || (archive != 1 && archive != 2)) return -1;
  ArchiveRecord* record = archive == 1 ? &ShaderCode.baseArchive : &ShaderCode.filterArchive;
  uint32_t position = 0, length = 0;
  if (GetArchiveFileLocation(record, name, &position, &length) != 0) return -1;
  *code = static_cast<const uint8_t*>(GetArchiveMemoryImage(record)) + position;
  *size = length;
  return 0;
}

void UpdateModelShaderSelection() {
  if (!AreShadersUsable()) return;
  const ShaderCodeState& s = ShaderCode;
  int t[6] = {0, 0, 0, 0, 0, 0};
  ModelShaderChoice.moreThanThreeLights = 0;
  if (RenderState.lighting) {
    for (int i = 0; i < 6; i++) t[i] = GetDeviceLightType(i);
    ModelShaderChoice.moreThanThreeLights = (t[3] | t[4] | t[5]) != 0;
  }
  const int shadow = ShadowMaps.slots[0] != 0 || ShadowMaps.slots[1] != 0 ? 1 : 0;
  const int k = ShadowMaps.drawing ? shadow + 4 : shadow;
  const int fog = RenderState.fogEnable ? RenderState.fogVertexMode : 0;
  const int i3 = t[2] + (t[1] + t[0] * 4) * 4;
  auto m = [](int type) { return type == 3 ? 2 : (type == 1 || type == 2) ? 1 : 0; };
  ModelShaderChoice.vertexIndex = 2 * (s.lightTable3[i3] + (fog + k * 24) * 20);
  ModelShaderChoice.pixelIndex = 2 * (s.mixTable3[m(t[2]) + (m(t[1]) + m(t[0]) * 3) * 3] + k * 9600);
  ModelShaderChoice.thirdIndex = fog + shadow * 24;
  ModelShaderChoice.fourthIndex = 2 * (s.lightTable6[t[5] + (t[4] + (t[3] + i3 * 4) * 4) * 4] + shadow * 40320);
}
