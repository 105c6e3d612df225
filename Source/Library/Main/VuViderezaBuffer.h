// Vertex and index buffer handles (types 15 and 16): a Direct3D buffer in
// the default pool plus a system-memory copy of the whole contents, from
// which the buffer is re-created and refilled after a device rebuild.
#ifndef VUVIDEREZA_BUFFER_H
#define VUVIDEREZA_BUFFER_H

#include <stdint.h>

#include <windows.h>
#include <d3d9.h>

#include "VeRavoro.h"
#include "RiDov.h"

enum {
  BUFFER_VERTEX_FVF = 0x2D2,  // position, normal, diffuse, specular, two texture sets
};

struct BufferHandleRecord {
  HandleRecordHeader header;
  uint32_t elementType;  // index buffers: 1 = 32-bit indices, else 16-bit
  uint32_t elementSize;  // vertex stride or index size in bytes
  uint32_t elementCount;
  void* systemCopy;            // elementSize x elementCount bytes
  IDirect3DResource9* buffer;  // null while no device object exists
};

// The public calls (RiDov.h): creators make a handle over zeroed elements,
// its device buffer at once when the device allows (-1 on bad sizes or a
// full table); writes go into the device buffer (when there is one) and the
// system copy (-1 outside the buffer or on a failed lock).

// Element count and the device object of a live handle; -1 / null.
int GetBufferHandleElementCount(int handle);
IDirect3DVertexBuffer9* GetVertexBufferObject(int handle);
IDirect3DIndexBuffer9* GetIndexBufferObject(int handle);

// Delete callback of both types: releases the buffer object; 0.
int ReleaseBufferHandleRecord(HandleRecordHeader* header);

// Device rebuild: the release-only half drops every buffer object; the
// re-creation makes them again from the system copies. Both return 0.
int ReleaseAllBufferObjects();
int RecreateAllBufferObjects();
// One record's re-creation: 0, or -1 with the record left without a buffer.
int CreateBufferObject(BufferHandleRecord* record);

#endif  // VUVIDEREZA_BUFFER_H
