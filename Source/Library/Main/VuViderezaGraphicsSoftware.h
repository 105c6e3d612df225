// The software screen: the primary memory image and the two work images of
// software rendering, and the current software draw target.
#ifndef VUVIDEREZA_GRAPHICS_SOFTWARE_H
#define VUVIDEREZA_GRAPHICS_SOFTWARE_H

#include "RiRerEzi.h"

extern MEMIMG SoftwareScreenImage;    // the primary screen
extern MEMIMG SoftwareWorkImages[2];  // the second one carries alpha
extern MEMIMG* SoftwareDrawTarget;    // null outside software mode

// 0; a failure to make the primary image ends the process.
int CreateSoftwareScreenImages();
// Frees the three images and clears the draw target and the present view. 0.
int ReleaseSoftwareScreenImages();

#endif
