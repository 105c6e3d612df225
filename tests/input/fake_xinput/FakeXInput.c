// A stand-in for xinput1_4.dll: four user slots whose state the test sets,
// and the last vibration each slot was given. Loaded in place of the
// system library through WINEDLLOVERRIDES=xinput1_4=n. Plain C, so that no
// C++ or thread runtime lives in the library.
#include <windows.h>
#include <xinput.h>
#include <string.h>

struct Slot {
  int connected;
  XINPUT_STATE state;
  XINPUT_VIBRATION vibration;
  int vibrationCalls;
};
static struct Slot Slots[4];

DWORD WINAPI XInputGetState(DWORD user, XINPUT_STATE* state) {
  if (user >= 4 || state == NULL) return ERROR_BAD_ARGUMENTS;
  if (!Slots[user].connected) return ERROR_DEVICE_NOT_CONNECTED;
  *state = Slots[user].state;
  return ERROR_SUCCESS;
}

DWORD WINAPI XInputSetState(DWORD user, XINPUT_VIBRATION* vibration) {
  if (user >= 4 || vibration == NULL) return ERROR_BAD_ARGUMENTS;
  if (!Slots[user].connected) return ERROR_DEVICE_NOT_CONNECTED;
  Slots[user].vibration = *vibration;
  Slots[user].vibrationCalls++;
  return ERROR_SUCCESS;
}

// Test controls.
void WINAPI FakeXInputSetPad(DWORD user, int connected, const XINPUT_STATE* state) {
  if (user >= 4) return;
  Slots[user].connected = connected;
  if (state != NULL) Slots[user].state = *state;
  else memset(&Slots[user].state, 0, sizeof(XINPUT_STATE));
}

int WINAPI FakeXInputGetVibration(DWORD user, XINPUT_VIBRATION* vibration) {
  if (user >= 4) return -1;
  if (vibration != NULL) *vibration = Slots[user].vibration;
  return Slots[user].vibrationCalls;
}
