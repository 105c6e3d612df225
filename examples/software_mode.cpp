// The sprites example (sprites.cpp) drawn without Direct3D: the library's
// software renderer draws into a screen image in memory, chosen by
// SetUseHardwareRendering(0) before start-up. The calls and the pictures
// are the same; the screen has 16-bit colour, and software presents do not
// wait for the display, so the loop keeps 60 frames a second itself. Arrow keys move the ship, Z
// beeps, Escape or closing the window ends the program.
#include <windows.h>
#include <stdlib.h>

#include "RiDov.h"
#include "TinyAssets.h"

namespace {

enum { SCREEN_WIDTH = 640, SCREEN_HEIGHT = 480, SHIP_SPEED = 4, ROCK_SPEED = 2, ROCK_COUNT = 5 };
// DirectInput key codes.
enum { ESCAPE_KEY = 0x01, Z_KEY = 0x2C, UP_KEY = 0xC8, LEFT_KEY = 0xCB, RIGHT_KEY = 0xCD, DOWN_KEY = 0xD0 };

unsigned ShipColor(int x, int y) { return abs(2 * x - 31) + abs(2 * y - 31) <= 32 ? 0x40FF40 : 0; }
unsigned RockColor(int x, int y) { return (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) < 64 ? 0xFF8020 : 0; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (!WriteBmp("ship.bmp", 32, 32, ShipColor) || !WriteBmp("rock.bmp", 16, 16, RockColor) ||
      !WriteToneWav("beep.wav", 880, 150))
    return 1;
  SetUseHardwareRendering(0);  // before start-up; -1 once started
  SetTitleText("RiDov example: software mode");
  SetScreenMode(SCREEN_WIDTH, SCREEN_HEIGHT, 16, 60);
  ChangeWindowMode(1);
  if (LibraryStartUp() != 0) return 1;

  const int ship = LoadImageGraph("ship.bmp");
  const int rock = LoadImageGraph("rock.bmp");
  const int beep = LoadSoundFile("beep.wav", 1, -1);  // one play buffer, no shared stream
  int shipWidth = 0, shipHeight = 0;
  if (ship == -1 || rock == -1 || beep == -1 || GetGraphicSize(ship, &shipWidth, &shipHeight) != 0) {
    LibraryShutDown();
    return 1;
  }
  int x = (SCREEN_WIDTH - shipWidth) / 2, y = SCREEN_HEIGHT - shipHeight - 40;
  int rockY[ROCK_COUNT];
  for (int i = 0; i < ROCK_COUNT; i++) rockY[i] = i * 90;
  bool zWasDown = false;
  SetDrawTarget(-2);  // the back buffer
  int frameStart = GetMillisecondCount(0);

  while (PumpWindowMessages() == 0 && !IsKeyDown(ESCAPE_KEY)) {
    x += (IsKeyDown(RIGHT_KEY) - IsKeyDown(LEFT_KEY)) * SHIP_SPEED;
    y += (IsKeyDown(DOWN_KEY) - IsKeyDown(UP_KEY)) * SHIP_SPEED;
    x = x < 0 ? 0 : x > SCREEN_WIDTH - shipWidth ? SCREEN_WIDTH - shipWidth : x;
    y = y < 0 ? 0 : y > SCREEN_HEIGHT - shipHeight ? SCREEN_HEIGHT - shipHeight : y;
    const bool zDown = IsKeyDown(Z_KEY) != 0;
    if (zDown && !zWasDown) PlaySoundHandle(beep, 1, 1);  // in the background, from the start
    zWasDown = zDown;
    for (int i = 0; i < ROCK_COUNT; i++) rockY[i] = rockY[i] >= SCREEN_HEIGHT ? -16 : rockY[i] + ROCK_SPEED;

    ClearDrawTarget(nullptr);
    DrawRectShape(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, MakeColorValue(16, 24, 64), 1);  // filled
    for (int i = 0; i < ROCK_COUNT; i++) DrawImageAt(60 + i * 120, rockY[i], rock, 1);
    DrawImageAt(x, y, ship, 1);
    PresentBackBuffer();
    const int elapsed = (GetMillisecondCount(0) - frameStart) & 0x7FFFFFFF;  // the clock has 31 bits
    if (elapsed < 16) Sleep(16 - elapsed);
    frameStart = GetMillisecondCount(0);
  }

  DeleteGraphicHandle(ship, 0);
  DeleteGraphicHandle(rock, 0);
  DeleteHandle(beep);
  LibraryShutDown();
  return 0;
}
