// Soft images: base images in memory held under handles of type 2.
#ifndef VUVIDEREZA_SOFTIMAGE_H
#define VUVIDEREZA_SOFTIMAGE_H

#include "ReReziRader.h"
#include "VeRavoro.h"
#include "RiDov.h"

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

// MakeSoftImage, DeleteSoftImage and GetSoftImageBaseImage are in RiDov.h.

#endif  // VUVIDEREZA_SOFTIMAGE_H
