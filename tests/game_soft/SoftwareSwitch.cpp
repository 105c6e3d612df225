// Linked into a build of the game that draws with the software renderer:
// the game's own call that picks windowed mode before start-up (the link
// wraps ChangeWindowMode(int)) first turns the library's hardware switch
// off, as any program does through the public header. The game's code is
// the same as in quinsel.exe.
#include "RiDov.h"

extern "C" int __real__Z16ChangeWindowModei(int windowed);

extern "C" int __wrap__Z16ChangeWindowModei(int windowed) {
  if (SetUseHardwareRendering(0) != 0) return -1;
  return __real__Z16ChangeWindowModei(windowed);
}
