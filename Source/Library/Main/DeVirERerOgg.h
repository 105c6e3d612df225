// Ogg Vorbis conversion for the sound converter (kind 2): vorbisfile over the
// converter's stream, or the large-read file layer.
#ifndef DEVIRERERGG_H
#define DEVIRERERGG_H

#include "VeVirudConvert.h"

enum { OGG_LAYER_READ_SIZE = 65536 };

int OpenOggConversion(SoundConversion* conversion);
int ConvertOggBlock(SoundConversion* conversion);
int SeekOggConversion(SoundConversion* conversion, int sample);
int GetOggConvertedSize(SoundConversion* conversion);
void ReleaseOggConversion(SoundConversion* conversion);

#endif  // DEVIRERERGG_H
