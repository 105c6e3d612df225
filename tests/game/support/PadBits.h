// Pad-state bits of the game's logical keys, as the scripted players press them.
#ifndef PAD_BITS_H
#define PAD_BITS_H

enum {
  PAD_DOWN = 0x1,
  PAD_LEFT = 0x2,
  PAD_RIGHT = 0x4,
  PAD_UP = 0x8,
  PAD_FIRE = 0x10,
  PAD_LASER = 0x20,
  PAD_SPECIAL = 0x40,
  PAD_PAUSE = 0x80,
  PAD_DEBUG = 0x400,
};

#endif  // PAD_BITS_H
