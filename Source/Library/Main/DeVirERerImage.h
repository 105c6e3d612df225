// PNG and JPEG decoding (the loaders themselves are declared with the
// loader table in ReReziRader.h) and the wide-character format bridge used
// by the log front end.
#ifndef DEVIRERER_IMAGE_H
#define DEVIRERER_IMAGE_H

#include <stdarg.h>
#include <wchar.h>

// The C runtime's wide formatted print into buffer (bufferChars characters,
// always terminated); the count it wrote, or -1 when it was cut.
int FormatWideLogText(wchar_t* buffer, int bufferChars, const wchar_t* format, va_list args);

#endif  // DEVIRERER_IMAGE_H
