// Everything waiting in the character ring, taken whole characters at a time.
#ifndef INPUT_RING_H
#define INPUT_RING_H

#include <string>

#include "RaRezezOruror.h"

namespace test_support {

inline std::string DrainInputRing() {
  std::string out;
  char bytes[2];
  int size;
  while ((size = GetInputChar(bytes, 1)) > 0) out.append(bytes, static_cast<size_t>(size));
  return out;
}

}  // namespace test_support

#endif  // INPUT_RING_H
