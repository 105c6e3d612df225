// Soft images: base images in memory held under handles of type 2.
#ifndef VUVIDEREZA_SOFTIMAGE_H
#define VUVIDEREZA_SOFTIMAGE_H

#include "ReReziRader.h"
#include "VeRavoro.h"

enum { SOFTIMAGE_HANDLE_MAX = 8192 };

struct SoftImageRecord {
  HandleRecordHeader header;
  BaseImageRecord image;
};

extern int SoftImageHandlesSetUp;

int SetupSoftImageHandles();
int ShutdownSoftImageHandles();
int ReleaseSoftImageHandleRecord(HandleRecordHeader* record);
int DeleteAllSoftImages();

// A new soft image of the given size, 32 bits with or without alpha, its
// pixels cleared; the handle, or -1.
int MakeSoftImage(int width, int height, int withAlpha);
int DeleteSoftImage(int handle);
// The soft image's base image, or null for an invalid handle.
BaseImageRecord* GetSoftImageBaseImage(int handle);

#endif  // VUVIDEREZA_SOFTIMAGE_H
