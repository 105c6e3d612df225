// Input devices: keyboard, mouse and up to 16 game pads. Pads come from
// XInput (loaded by name), DirectInput 7 or 8 (through COM) or, when
// DirectInput cannot be had, the multimedia library's joystick functions.
// Keys come from the DirectInput keyboard, or from GetKeyboardState through
// the virtual-key table (always on Vista and later). Main thread only.
#ifndef RARADARA_INPUT_H
#define RARADARA_INPUT_H

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <windows.h>
#include <dinput.h>
#include <mmsystem.h>
#include <xinput.h>
#include "RiDov.h"

enum {
  INPUT_MAX_PADS = 16,
  INPUT_PAD_TABLE_ENTRIES = 32,
  INPUT_PAD_TABLE_CODES = 4,
  INPUT_PAD_DEAD_ZONE = 22937,  // of 65536: 35 %
  INPUT_PAD_NAME_SIZE = 260,
  INPUT_KEYBOARD_FLAG = 0x1000,  // GetPadState: merge the keyboard
  INPUT_XINPUT_USERS = 4,
  INPUT_VIBRATION_FULL = 10000,
  INPUT_VIBRATION_SPLIT = 5000,  // motor 2 joins above this power
};

// The XInput pad name, given as both instance and product name.
const char XInputPadName[] = "Controller (XBOX 360 For Windows)";

struct JoypadRecord {
  int xinputIndex;  // 0..3, -1 for a DirectInput pad
  XINPUT_STATE rawState;
  IDirectInputDevice7A* device;  // an IDirectInputDevice8A in DirectInput 8 mode
  IDirectInputEffect* constantEffect;
  IDirectInputEffect* periodicEffect;
  HANDLE event;
  DIJOYSTATE state;  // what GetPadState reads; axes -1000..1000
  int hasZAndR;      // multimedia-joystick pads
  int lastPollTime;
  int vibrationRequested;
  int vibrationPower;  // 0..10000
  int vibrationLimit;  // milliseconds, negative: until stopped
  int vibrationElapsed;
  int vibrationLastTime;
  int motor1Applied;
  int motor2Applied;
  char instanceName[INPUT_PAD_NAME_SIZE];
  char productName[INPUT_PAD_NAME_SIZE];
  int deadZone;  // fraction of 65536
};

struct InputStateBlock {
  HMODULE xinputModule;
  DWORD(WINAPI* XInputGetStateFunc)(DWORD user, XINPUT_STATE* state);
  DWORD(WINAPI* XInputSetStateFunc)(DWORD user, XINPUT_VIBRATION* vibration);
  int joystickMode;   // 1: DirectInput failed; survives restarts
  int directInput8;   // 1: the object is an IDirectInput8A
  void* directInput;  // null: not started; InputNoDirectInput: started without
  IDirectInputDevice7A* mouse;
  IDirectInputDevice7A* keyboard;
  HANDLE keyboardEvent;
  int keyboardTime;
  unsigned char keyState[256];  // by DirectInput key code, bit 7 held
  int keyToPad[INPUT_MAX_PADS][INPUT_PAD_TABLE_ENTRIES][INPUT_PAD_TABLE_CODES];
  int keyToPadBuilt;  // survives restarts
  int padCount;
  JoypadRecord pads[INPUT_MAX_PADS];
  int starting;                 // InitializeInput runs
  unsigned char keyboardGuard;  // UpdateKeyboardState runs
};
extern InputStateBlock InputState;

void* const InputNoDirectInput = reinterpret_cast<void*>(static_cast<intptr_t>(-1));

// One row of the virtual-key table; the list ends with virtualKey 0xFFFF.
struct VirtualKeyRow {
  unsigned short virtualKey;
  unsigned short keyCode;
  unsigned short flag;
};
extern const VirtualKeyRow VirtualKeyToKeyCodeTable[];

// Public operations.
int InitializeInput();                   // 0, or -1 when the keyboard event cannot be set up
int TerminateInput();                    // 0
int UpdateKeyboardState(int pumpFirst);  // 1 refreshed, 0 not
// Replaces the four key codes of one GetPadState bit (entry 0..31) of a pad
// (number from 1); codes <= 0 are empty. 0, or -1 out of range.
int SetKeyToPadEntry(int padNumber, int entry, const int codes[INPUT_PAD_TABLE_CODES]);

// Upkeep from the message pump and the window procedure.
int UpdatePadVibration();
int ApplyPadVibration();
int ReacquireInputDevices();

// Internal steps.
int SetupJoypads();
int ReleaseJoypads();
int PollJoypad(int padIndex);
void BuildDefaultKeyToPadTable();
int ApplyPadVibrationFor(int appActive);

// Pure conversions.
int ConvertXInputThumb(int thumb, int deadZone);
int ConvertXInputTriggers(int leftTrigger, int rightTrigger, int deadZone);
int ConvertXInputDpad(unsigned int buttons);  // point of view in 1/100 degree, -1 centred
void ConvertXInputState(const XINPUT_STATE* raw, int deadZone, DIJOYSTATE* out);
int ConvertJoystickAxis(unsigned int value, int deadZone);
void ConvertJoystickInfo(const JOYINFOEX* info, int hasZAndR, int deadZone, DIJOYSTATE* out);
// Key state by DirectInput code from a GetKeyboardState buffer.
void TranslateKeyboardState(const unsigned char virtualKeys[256], unsigned char keyState[256]);
// GetPadState bits from a pad state (null: none) and a key-table row
// (null: no keyboard) over a key state.
unsigned int AssemblePadBits(const DIJOYSTATE* state, const int (*row)[INPUT_PAD_TABLE_CODES],
                             const unsigned char keyState[256]);
// XInput motor speeds for a power and the two motor states.
void PadVibrationSpeeds(int power, int motor1, int motor2, XINPUT_VIBRATION* out);

// Test seams: the OS code that chooses the keyboard path, and a forced
// multimedia-joystick mode.
extern int (*InputOsCodeSource)();
void ForceJoystickInputMode(int on);

// Device sources (one file each).
int LoadXInput();
void FreeXInput();
void AddXInputPads();
int PollXInputPad(JoypadRecord* pad);
int ApplyXInputVibration(JoypadRecord* pad, int motor1, int motor2);
int StartDirectInput();         // 0 with the object, -1 without
int StartDirectInputDevices();  // mouse and keyboard; -1 keyboard event failure
void ReleaseDirectInput();
int ReadDirectInputKeyboard(int pumpFirst);
int PollDirectInputPad(JoypadRecord* pad);
int ApplyDirectInputVibration(JoypadRecord* pad, int motor1, int motor2);
int ReacquireDirectInputDevices(int appActive);
void StartJoystickMode();
int PollJoystickPad(int padIndex);

#endif  // RARADARA_INPUT_H
