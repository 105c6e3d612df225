// Model-base and model records built by hand in the shapes the library's
// loader fills them, every block from the tracked allocator (so that a
// release can be checked against the allocation count), and the device
// vertex each source vertex should become, written independently of the
// library from the layout table.
#ifndef MODEL_RECORDS_H
#define MODEL_RECORDS_H

#include <stdint.h>

#include <functional>
#include <vector>

#include "MoDerov.h"

namespace test_support {

struct MeshSpec {
  int sets = 0;       // texture-coordinate sets
  int normalMap = 0;  // the material's flag
  int copiesNeedBuffers = 0;
};

struct SubMeshSpec {
  int mesh = 0;
  int skin = 0;
  int vertexCount = 3;
  int indexCount1 = 3;
  int indexCount2 = 0;
};

struct BaseSpec {
  std::vector<MeshSpec> meshes;
  std::vector<SubMeshSpec> subMeshes;
  int copyVertexData = 0;  // the frame's per-copy-vertex-data flag
  int textureCount = 0;
  int rigidBodies = 0;
  int joints = 0;
  int refCount = 1;
  bool vertexData = true;  // source vertices and blocks (off for counting-only bases)
};

// A new type-13 handle filled as the BaseSpec describes; -1 when the type is
// not set up.
int MakeModelBase(const BaseSpec& spec);
// A new type-14 copy of the base (one more reference on it, linked last),
// with two slots (slot 0 in use), frame blocks with two-node chains, four
// whole-copy and per-frame blocks, and in-use overrides when use is set.
int MakeModel(int base, bool overridesInUse = false);

// The device vertex of sub-mesh vertex i as the layout table gives it
// (stride bytes; the bytes no field covers are left 0).
std::vector<uint8_t> ExpectedDeviceVertex(const ModelSubMesh* subMesh, int i, int stride);

// A 24-bit BMP file of colour(x, y) = 0xRRGGBB.
std::vector<uint8_t> MakeBmp(int width, int height, const std::function<uint32_t(int, int)>& color);

}  // namespace test_support

#endif  // MODEL_RECORDS_H
