// Models: model-base handles (type 13: what every copy of a model shares)
// and model handles (type 14: one placed copy), their release, their
// Direct3D vertex and index buffers around a lost device, their textures
// refilled after a device rebuild, and the release of a copy's physics
// objects. Nothing here loads or draws a model: the records are filled by
// whoever makes them, in the shapes below.
#ifndef MODEROV_H
#define MODEROV_H

#include <stdint.h>

#include <windows.h>
#include <d3d9.h>

#include "ReReziRader.h"
#include "VeRavoro.h"

class btBroadphaseInterface;
class btCollisionConfiguration;
class btCollisionShape;
class btConstraintSolver;
class btDispatcher;
class btDynamicsWorld;
class btMotionState;
class btOverlappingPairCallback;
class btRigidBody;
class btTypedConstraint;

enum {
  MODEL_HANDLE_MAX = 32768,
  MODEL_SKIN_KINDS = 3,  // 0 rigid, 1 four bone weights, 2 eight bone weights
  MODEL_TEXCOORD_SETS_MAX = 8,
  MODEL_LAYOUT_SLOTS = 54,  // (skin kind x 2 + normal-mapped) x 9 + set count
  MODEL_GROUP_INDEX_LIMIT = 0xC0000,
  MODEL_GROUP_VERTEX_LIMIT = 0x60000,
  MODEL_DEFAULT_TEXTURES = 4,  // white, black, four-step ramp, grey ramp
};

// Default texture numbers in ModelState.defaultTextures.
enum {
  MODEL_TEXTURE_WHITE = 0,
  MODEL_TEXTURE_BLACK = 1,
  MODEL_TEXTURE_RAMP4 = 2,
  MODEL_TEXTURE_GREY_RAMP = 3,
};

struct ModelState {
  uint8_t ready;                                // the two types are registered
  int defaultTextures[MODEL_DEFAULT_TEXTURES];  // graphic handles, -1 none
};
extern ModelState Models;

// The three default textures made from image files (run-length TGA).
struct ModelTextureFile {
  const uint8_t* bytes;
  int size;
};
extern const ModelTextureFile ModelDefaultTextureFiles[3];  // white, black, four-step ramp

// ---------------------------------------------------------------------------
// Device buffers shared by sub-meshes of one vertex layout.

struct ModelVertexGroup {
  IDirect3DVertexBuffer9* vertexBuffer;
  IDirect3DIndexBuffer9* indexBuffer;
  int vertexCount;
  int indexCount;
  void* lockedVertices;  // valid while locked
  void* lockedIndices;
  uint32_t fvf;
  int stride;
  ModelVertexGroup* next;
  ModelVertexGroup* prev;
};

// ---------------------------------------------------------------------------
// Model base (type 13).

struct ModelMeshEntry;

// One direction record per vertex direction: normal, then the two
// tangent-frame vectors.
struct ModelDirection {
  float normal[3];
  float tangent1[3];
  float tangent2[3];
};

struct ModelFrameEntry {
  int meshCount;
  ModelMeshEntry* meshes;  // first of the frame's run in the base's mesh array
  ModelDirection* directions;
  int directionsOwned;
  int hasCopyVertexData;  // copies keep vertex buffers of their own
};

struct ModelTextureEntry {
  int block1Owned;
  void* block1;
  int block2Owned;
  void* block2;
  void* alphaBytes;  // image file, owned; null: none
  int alphaSize;
  int block3Owned;
  void* block3;
  void* colorBytes;  // image file, owned; null: none
  int colorSize;
  int normalMap;  // colour image is a height image turned into a normal map
  float heightFactor;
  int graph;  // graphic handle of the texture
};

struct ModelMaterial {
  int normalMap;  // non-zero: normal-mapped
};

struct ModelSubMesh;

struct ModelMeshEntry {
  ModelFrameEntry* frame;
  ModelMaterial* material;
  int subMeshCount;
  ModelSubMesh* subMeshes;    // first of the mesh's run in the base's sub-mesh array
  uint8_t copiesNeedBuffers;  // copies make vertex buffers of their own
  int texCoordSetCount;       // 0..8
  int vertexStride;           // bytes per source vertex record
  void* vertices;             // source vertex records
  int verticesOwned;
};

// Source vertex record (vertexStride bytes): word 1 direction index, word 2
// diffuse, word 3 specular, from word 5 one (u, v) pair per set.
enum {
  MODEL_SOURCE_DIRECTION_WORD = 1,
  MODEL_SOURCE_DIFFUSE_WORD = 2,
  MODEL_SOURCE_SPECULAR_WORD = 3,
  MODEL_SOURCE_TEXCOORD_WORD = 5,
};

// Position/skin block, read from the first 16-byte boundary at or above its
// pointer: rigid 32 bytes (position 0-11); four weights 48 bytes (weights
// 0-15, position 16-27, bone indices 44-47); eight weights 64 bytes
// (weights 0-31, bone indices 0-3 at 44-47, position 48-59, 4-7 at 60-63).
struct ModelSubMesh {
  ModelMeshEntry* mesh;
  uint16_t skinKind;  // 0 rigid, 1 four weights, 2 eight weights; others get no buffers
  int vertexCount;
  int* sourceIndices;  // per vertex: its source record in the mesh's vertex array
  int sourceIndicesOwned;
  void* positions;  // position/skin block
  int positionsOwned;
  uint16_t indexCount1;  // the two index lists, always owned
  uint16_t* indices1;
  uint16_t indexCount2;
  uint16_t* indices2;
  ModelVertexGroup* group;  // null: no device buffers
  int firstVertex;          // in the group
  int firstIndex;
};

struct ModelOwnedBlock {
  void* block;
  int owned;
};

struct ModelPairedBlock {
  int flag;
  void* first;
  void* second;
};

// A block of the base's owned chain; the third 32-bit word links the next.
struct ModelChainBlock {
  int word0;
  int word1;
  ModelChainBlock* next;
};

struct ModelRecord;

struct ModelBaseRecord {
  HandleRecordHeader header;
  void* dataBlock;  // freed last
  int instanceCount;
  ModelRecord* lastInstance;
  ModelRecord* firstInstance;
  int refCount;
  int frameCount;
  ModelFrameEntry* frames;
  int textureCount;
  ModelTextureEntry* textures;
  int texturesOwned;
  int meshCount;
  ModelMeshEntry* meshes;
  int ownedBlockCount;
  ModelOwnedBlock* ownedBlocks;
  int rigidBodyCount;  // non-zero: every copy carries physics objects
  int jointCount;
  int subMeshCount;
  ModelSubMesh* subMeshes;
  void* otherBlock;
  int smallState4[4];
  int smallState5[5];
  int pairedCount;
  ModelPairedBlock* paired;
  // Device buffers.
  int groupCount;
  int buffersBuilt;
  int slotGroupCount[MODEL_LAYOUT_SLOTS];
  ModelVertexGroup* slotFirst[MODEL_LAYOUT_SLOTS];
  ModelVertexGroup* slotLast[MODEL_LAYOUT_SLOTS];
  int rebuildRequest;
  ModelChainBlock* chain;
};

// ---------------------------------------------------------------------------
// Model (type 14).

// A frame block refers to a header object (not owned) whose fourth 32-bit
// word is the first node of a chain of owned nodes; each node's fourth word
// links the next.
struct ModelFrameNode {
  int word0, word1, word2;
  ModelFrameNode* next;
};
struct ModelFrameChainHead {
  int word0, word1, word2;
  ModelFrameNode* first;
};
struct ModelFrameBlock {
  ModelFrameChainHead* head;
};

struct ModelSubMeshState {
  uint8_t changed;  // set when the copy's vertex buffer is made
};

// One per sub-mesh of the base.
struct ModelCopySubMesh {
  ModelSubMeshState* state;
  int word1;
  int word2;
  IDirect3DVertexBuffer9* vertexBuffer;
};

struct ModelCopyMesh {
  ModelCopySubMesh* subMeshes;  // the mesh's run in the copy's sub-mesh array
};

struct ModelCopyFrame {
  void* blocks[4];
  ModelFrameBlock* frameBlock;
  ModelCopyMesh* meshes;  // one per mesh of the frame
};

struct ModelTextureOverride {
  void* block1;
  void* block2;
  void* alphaBytes;
  int alphaSize;
  void* block3;
  void* block4;
  void* colorBytes;
  int colorSize;
  int normalMap;
  float heightFactor;
  int inUse;
  int graph;
};

struct ModelSlot {
  uint8_t inUse;
  void* block;  // owned
};

struct ModelFrameSlot {
  uint8_t flag;
  int value;
};

// Physics objects of one copy, each deleted through its virtual destructor.
struct PhysicsWorldBlock {
  btCollisionConfiguration* configuration;
  btDispatcher* dispatcher;
  btBroadphaseInterface* broadphase;
  btConstraintSolver* solver;
  btDynamicsWorld* world;
  btOverlappingPairCallback* pairCallback;  // deleted before the world
};

// The shape is the entry's; the body and its motion state are the world's.
struct ModelRigidBodyEntry {
  btCollisionShape* shape;
  btRigidBody* body;
  int group;
  int mask;
  btMotionState* motionState;
};

struct ModelJointEntry {
  btTypedConstraint* constraint;  // the world's
  int bodyA;
  int bodyB;
};

struct ModelRecord {
  HandleRecordHeader header;
  void* dataBlock;  // freed last
  ModelRecord* prevCopy;
  ModelRecord* nextCopy;
  int baseHandle;
  ModelBaseRecord* base;  // null: never bound to a base
  uint8_t stateFlag1;
  ModelCopyFrame* frames;  // one per frame of the base
  uint8_t ownVertexBuffers;
  ModelCopySubMesh* subMeshBuffers;  // one per sub-mesh of the base
  ModelTextureOverride* overrides;   // one per texture of the base
  int overridesOwned;
  void* wholeBlocks[4];
  ModelFrameBlock* wholeFrameBlock;
  int slotsInUse;
  int slotCapacity;
  ModelSlot* slots;
  ModelFrameSlot* frameSlots;  // frames x capacity
  uint8_t stateFlag2;
  PhysicsWorldBlock physics;
  ModelRigidBodyEntry* rigidBodies;  // one per rigid body of the base
  ModelJointEntry* joints;           // one per joint of the base
};

// ---------------------------------------------------------------------------
// Handles and release (MoDerov.cpp).

// Registers types 13 and 14 when the graphics run in Direct3D mode; 0.
int SetupModelHandleTypes();
// Deletes every model and base and unregisters both types; 0.
int ShutdownModelHandleTypes();
int DeleteAllModels();
int DeleteAllModelBases();
// Delete callbacks: the model 0; the base 1 while references remain, else 0.
int ReleaseModelHandleRecord(HandleRecordHeader* record);
int ReleaseModelBaseHandleRecord(HandleRecordHeader* record);
// 0, or -1 for a handle that is no live model without pending loads, or an
// index outside the slots / frames (-1 selects the whole-copy block).
int ReleaseModelSlot(int model, int slot);
int ReleaseModelFrameBlock(int model, int frame);
// The live records (null for anything else); acceptPending 0 also refuses
// a record with pending loads.
ModelBaseRecord* GetModelBaseRecord(int handle, int acceptPending);
ModelRecord* GetModelRecord(int handle, int acceptPending);

// ---------------------------------------------------------------------------
// Device buffers (MoDerovDevice.cpp).

int RebuildAllModelBases(int onMainThread);
// 0 built, already built or nothing to build in this device mode; -1.
int RebuildModelBaseDeviceBuffers(int base, int request, int onMainThread);
int CreateModelInstanceVertexBuffers(int model, int onMainThread);
int ReleaseModelBaseDeviceBuffers(int base);
int ReleaseModelInstanceVertexBuffers(int model);
int ReleaseModelDeviceResources();
// The device rebuild's step: every base rebuilt (RebuildAllModelBases(0)); 0.
void RebuildModelDeviceResources();
// Layout slot of a sub-mesh, -1 when it gets no buffers.
int GetModelSubMeshSlot(const ModelSubMesh* subMesh);
// Device layout of a slot: FVF code (0 for the declaration layouts) and stride.
void GetModelSlotLayout(int slot, uint32_t* fvf, int* stride);
// Grouping of the base's sub-meshes into layout slots (no device call);
// 0, or -1 when a group cannot be allocated (then nothing is kept).
int AssignModelVertexGroups(ModelBaseRecord* base);
// Unlocks, releases and frees every group of the base; no sub-mesh keeps one.
void FreeModelVertexGroups(ModelBaseRecord* base, int onMainThread);

// ---------------------------------------------------------------------------
// Textures (MoDerovTexture.cpp).

int RebuildModelTextures();
int RefillModelGreyRampTexture(int graph);
// The image files of a model texture (either may be absent) and how they
// are read: a normal map made from the colour's heights, and a turn.
struct ModelTextureSource {
  const void* colorBytes;
  int colorSize;
  const void* alphaBytes;
  int alphaSize;
  int normalMap;
  float heightFactor;
  int turn;
};
int LoadModelTextureImages(BaseImageRecord* color, BaseImageRecord* alpha, const ModelTextureSource& source);

// ---------------------------------------------------------------------------
// Physics release (MoDerovPhysics.cpp).

int TerminateModelInstancePhysics(ModelRecord* model);
int ReleaseModelRigidBodyPhysics(ModelRigidBodyEntry* entry);
void ReleaseModelJointPhysics(ModelJointEntry* entry);
// -1 when the block holds no world (its other objects are deleted all the same).
int DeletePhysicsWorld(PhysicsWorldBlock* block);

#endif  // MODEROV_H
