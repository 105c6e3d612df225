// The pool of system-memory transfer textures (dynamic usage) kept for
// transfers into default-pool textures, and its upkeep.
#ifndef VUVIDEREZA_GRAPH_POOL_H
#define VUVIDEREZA_GRAPH_POOL_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

enum { TRANSFER_POOL_SIZE = 64, TRANSFER_IDLE_MILLISECONDS = 2000 };

struct TransferTextureEntry {
  uint8_t used, busy, cube, mipCount;
  int16_t width, height;
  int pixelFormat;
  int useCount;
  int lastUse;  // millisecond clock
  IDirect3DBaseTexture9* texture;
};

struct TransferTexturePool {
  int count;  // used entries
  TransferTextureEntry entries[TRANSFER_POOL_SIZE];
};
extern TransferTexturePool TransferPool;

// Releases every pooled texture (idleOnly 0) or those not busy (1); their
// entries become free. 0.
int ReleaseTransferTextures(int idleOnly);
// Main thread only (-1 elsewhere): frees entries neither busy nor used for
// 2000 ms or more. 0.
int ReleaseIdleTransferTextures();
// The entry's texture made (system memory, dynamic usage): 0, or -1 with
// the failure and, the first time, the pool's entries logged.
int CreatePooledTransferTexture(TransferTextureEntry* entry);
// Device rebuild: every used entry's texture released / made again (the
// entries stay). Both 0.
void ReleasePooledTransferTextureObjects();
void RecreatePooledTransferTextureObjects();

#endif  // VUVIDEREZA_GRAPH_POOL_H
