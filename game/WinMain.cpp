// The program's entry point; everything else of the game is in QuinselGame.
#include <windows.h>

#include "GameMain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return GameMain(ScreenTaskEntry); }
