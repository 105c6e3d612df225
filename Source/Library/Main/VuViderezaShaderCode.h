// Embedded shader code: the packed blocks the build makes, their set-up as
// two in-memory archives (base and filter shaders, found by name), the
// model code tables and the channel-mixing table; the light-combination
// tables and the model shader choice.
#ifndef VUVIDEREZA_SHADER_CODE_H
#define VUVIDEREZA_SHADER_CODE_H

#include <stddef.h>
#include <stdint.h>

#include "RoRezedur_.h"

enum {
  MODEL_SHADER_GROUPS = 10,
  MODEL_SHADER_ENTRIES = 52181,
  // The head holds one size more than there are entries; the last is
  // never used, and the code starts after the whole head.
  MODEL_SHADER_HEAD_SIZES = 52182,
  RGBA_MIX_ENTRIES = 256,
};

// The four LZ blocks (9-byte head, then the packed bytes).
struct ShaderCodeBlocks {
  const uint8_t* base;
  size_t baseSize;
  const uint8_t* filter;
  size_t filterSize;
  const uint8_t* model;
  size_t modelSize;
  const uint8_t* rgbaMix;
  size_t rgbaMixSize;
};
// The blocks set up from: the built-in ones, or a test's (null: built-in).
const ShaderCodeBlocks* GetBuiltInShaderCodeBlocks();
void SetShaderCodeBlocks(const ShaderCodeBlocks* blocks);

struct ShaderCodeEntry {
  const void* code;  // null: empty entry
  uint16_t size;
};

struct ShaderCodeState {
  int setUp;
  void* baseBuffer;
  void* filterBuffer;
  void* modelBuffer;
  void* rgbaMixBuffer;
  ArchiveRecord baseArchive;
  ArchiveRecord filterArchive;
  ShaderCodeEntry* groups[MODEL_SHADER_GROUPS];  // into modelEntries
  ShaderCodeEntry modelEntries[MODEL_SHADER_ENTRIES];
  ShaderCodeEntry rgbaMix[RGBA_MIX_ENTRIES];
  uint16_t lightTable6[4096];
  uint16_t lightTable3[64];
  uint16_t mixTable3[27];
};
extern ShaderCodeState ShaderCode;

// Entries per group 1-10 (index 0 = group 1).
extern const int ModelShaderGroupSizes[MODEL_SHADER_GROUPS];

int SetupShaderCodeArchives();
int ReleaseShaderCodeArchives();
// The code of a named shader in archive 1 (base) or 2 (filter); 0, or -1
// when missing.
int FindShaderCode(int archive, const char* name, const void** code, uint32_t* size);
// Builds the three light-combination tables.
void BuildLightCombinationTables(uint16_t* table6, uint16_t* table3, uint16_t* mix3);

struct ModelShaderSelection {
  int vertexIndex;
  int pixelIndex;
  int thirdIndex;
  int fourthIndex;
  int moreThanThreeLights;
};
extern ModelShaderSelection ModelShaderChoice;
void UpdateModelShaderSelection();

#endif  // VUVIDEREZA_SHADER_CODE_H
