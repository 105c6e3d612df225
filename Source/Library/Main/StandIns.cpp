// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include <windows.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"

// ---------------------------------------------------------------------------
// Graphics and drawing.

// Graphic creation: transfer-texture pool (empty).
int ReleaseIdleTransferTextures() { return 0; }
// Models: nothing to release.
int ReleaseModelDeviceResources() { return 0; }

// ---------------------------------------------------------------------------
// Movies, models.

// Movies: the DirectShow road (no graph can be built).
struct MovieRecord;
int OpenMovieWithMediaGraph(MovieRecord*, const char*, int*, int*, int, int) { return -1; }
// Models: handle types.
int SetupModelHandleTypes() { return 0; }
// Models: handle types.
int ShutdownModelHandleTypes() { return 0; }
