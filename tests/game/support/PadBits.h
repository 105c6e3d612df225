// Pad-state bits of the game's logical keys, as the scripted players press them.
#ifndef PAD_BITS_H
#define PAD_BITS_H

#include "RiDov.h"

enum {
  PAD_DOWN = PAD_INPUT_DOWN,
  PAD_LEFT = PAD_INPUT_LEFT,
  PAD_RIGHT = PAD_INPUT_RIGHT,
  PAD_UP = PAD_INPUT_UP,
  PAD_FIRE = PAD_INPUT_BUTTON1,
  PAD_LASER = PAD_INPUT_BUTTON2,
  PAD_SPECIAL = PAD_INPUT_BUTTON3,
  PAD_PAUSE = PAD_INPUT_BUTTON4,
  PAD_DEBUG = PAD_INPUT_BUTTON7,
};

#endif  // PAD_BITS_H
