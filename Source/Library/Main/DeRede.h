// The mask screen: a byte per screen pixel saying where later draws may
// reach the draw target, its Direct3D buffers (mask texture, colour buffer)
// or software work image, the begin / apply brackets every draw call runs
// while it is active, and the mask handle type (7).
#ifndef DEREDE_H
#define DEREDE_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include "RiRerEzi.h"
#include "VeRavoro.h"

struct MaskScreenState {
  int initialised;
  int requested;  // wanted: creation does nothing without it
  int useFlag;    // last value given to SwitchMaskScreenUse
  int active;     // use flag and requested: draws are masked
  int nesting;    // open BeginMaskedDraw calls
  int width, height;
  uint8_t* bytes;  // pitch x height
  int pitch;
  MEMIMG workImage;  // software mode
  int workMade;
  IDirect3DTexture9* maskTexture;   // alpha carries the mask bytes
  IDirect3DTexture9* colorTexture;  // render target draws go to
  IDirect3DSurface9* colorSurface;
  int textureWidth, textureHeight;
  IDirect3DSurface9* targetSurface;  // remembered by the outermost begin
  IDirect3DSurface9* beginColorSurface;
};
extern MaskScreenState MaskScreen;

// Mask handle record (type 7): the header and the mask's bitmap.
struct MaskHandleRecord {
  HandleRecordHeader header;
  void* bitmap;
};

int InitMaskSystem();
int EndMaskSystem();
int ReleaseMaskHandleRecord(HandleRecordHeader* record);
// Creates or grows the mask screen (it only grows; old contents kept, the
// new area zero). 0.
int CreateMaskScreen(int requested, int width, int height);
int ReleaseMaskScreen();
int RestoreMaskScreen();
int SwitchMaskScreenUse(int flag);
int GetMaskUseFlag();
int IsMaskScreenRequested();
int IsMaskScreenActive();
IDirect3DSurface9* GetActiveMaskSurface();
MEMIMG* GetActiveMaskWorkImage();
int BeginMaskedDraw(RECT rect);
int ApplyMaskToScreen(RECT rect);
int UploadMaskTexture(RECT rect);
// Masked draws are composed at once; nothing waits for the present. 0.
int ApplyPendingMaskToScreen();

// Requests the mask screen (on: made in the draw target's size) or drops
// the request (the buffers stay until released). 0, -1 before start-up.
int SetMaskScreenRequest(int on);
// Sets the mask bytes of a rectangle (clipped to the mask screen) to value
// and brings the mask texture up to date. 0, -1 without mask bytes.
int FillMaskScreenRect(const RECT* rect, int value);

#endif  // DEREDE_H
