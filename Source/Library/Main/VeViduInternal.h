// What the font files share among themselves.
#ifndef VEVIDU_INTERNAL_H
#define VEVIDU_INTERNAL_H

#include <windows.h>

#include "VeVidu.h"

// Entry i = number of set bits in i.
extern int BitCountTable[256];

// The character code GDI takes (lead x 256 + trail) of a parsed element.
inline unsigned int GlyphCodeOf(const ParsedGlyph& element) {
  const unsigned int first = element.code & 0xFF, second = element.code >> 8;
  return second != 0 ? (first << 8) | second : first;
}

// Supersampling scale of a font type: 4, 8 or 1.
inline int FontTypeScale(int type) {
  if (type == FONT_TYPE_ANTIALIASING_4X4 || type == FONT_TYPE_ANTIALIASING_EDGE_4X4) return 4;
  if (type == FONT_TYPE_ANTIALIASING_8X8 || type == FONT_TYPE_ANTIALIASING_EDGE_8X8) return 8;
  return 1;
}

// Drawing-layer calls the font code makes.
#include "VuViderezaDraw.h"

#endif  // VEVIDU_INTERNAL_H
