// Linked into the game's program for the keyboard end-to-end run only: each
// present (the link wraps PresentBackBuffer()) appends the main player's (id 1)
// position and live shot count to "player_probe.txt" in the working folder
// whenever they change, so the run can see the player move and fire.
#include <stdio.h>

#include "RiDov.h"
#include "Task.h"

extern "C" int __real__Z17PresentBackBufferv();

extern "C" int __wrap__Z17PresentBackBufferv() {
  static int lastX = -1, lastY = -1, lastShots = -1, lastPad = -1;
  int pad = GetPadState(0x1001);
  if (pad != lastPad) {
    if (FILE* file = fopen("player_probe.txt", "ab")) {
      fprintf(file, "keys %x\n", pad);
      fclose(file);
    }
    lastPad = pad;
  }
  if (PlayerMessengerPtr != nullptr) {
    int x = 0, y = 0, shots = 0;
    PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
    PlayerMessengerPtr->GetLiveShotCount(1, &shots);
    if (x != lastX || y != lastY || shots != lastShots) {
      if (FILE* file = fopen("player_probe.txt", "ab")) {
        fprintf(file, "%d %d %d\n", x, y, shots);
        fclose(file);
      }
      lastX = x;
      lastY = y;
      lastShots = shots;
    }
  }
  return __real__Z17PresentBackBufferv();
}
