// Reverb presets: the 30 I3DL2 environment presets and their conversion into
// the native reverb parameters of XAudio2 2.7 (52 bytes) and 2.8 (56 bytes,
// with the late-field switch), made once the mastering voice exists.
// No locks: written by the sound start on the main thread, read afterwards.
#include <math.h>
#include <string.h>

#include "VeVirud.h"

namespace {

struct I3DL2Preset {
  float wetDryMix;
  int room, roomHF;
  float roomRolloffFactor, decayTime, decayHFRatio;
  int reflections;
  float reflectionsDelay;
  int reverb;
  float reverbDelay, diffusion, density, hfReference;
};

// Forest first, then the published order from Default to Plate.
const I3DL2Preset Presets[SOUND_REVERB_PRESET_COUNT] = {
    {100, -1000, -3300, 0.0f, 1.49f, 0.54f, -2560, 0.162f, -613, 0.088f, 79.0f, 100.0f, 5000.0f},    // Forest
    {100, -10000, 0, 0.0f, 1.00f, 0.50f, -10000, 0.020f, -10000, 0.040f, 100.0f, 100.0f, 5000.0f},   // Default
    {100, -1000, -100, 0.0f, 1.49f, 0.83f, -2602, 0.007f, 200, 0.011f, 100.0f, 100.0f, 5000.0f},     // Generic
    {100, -1000, -6000, 0.0f, 0.17f, 0.10f, -1204, 0.001f, 207, 0.002f, 100.0f, 100.0f, 5000.0f},    // PaddedCell
    {100, -1000, -454, 0.0f, 0.40f, 0.83f, -1646, 0.002f, 53, 0.003f, 100.0f, 100.0f, 5000.0f},      // Room
    {100, -1000, -1200, 0.0f, 1.49f, 0.54f, -370, 0.007f, 1030, 0.011f, 100.0f, 60.0f, 5000.0f},     // Bathroom
    {100, -1000, -6000, 0.0f, 0.50f, 0.10f, -1376, 0.003f, -1104, 0.004f, 100.0f, 100.0f, 5000.0f},  // LivingRoom
    {100, -1000, -300, 0.0f, 2.31f, 0.64f, -711, 0.012f, 83, 0.017f, 100.0f, 100.0f, 5000.0f},       // StoneRoom
    {100, -1000, -476, 0.0f, 4.32f, 0.59f, -789, 0.020f, -289, 0.030f, 100.0f, 100.0f, 5000.0f},     // Auditorium
    {100, -1000, -500, 0.0f, 3.92f, 0.70f, -1230, 0.020f, -2, 0.029f, 100.0f, 100.0f, 5000.0f},      // ConcertHall
    {100, -1000, 0, 0.0f, 2.91f, 1.30f, -602, 0.015f, -302, 0.022f, 100.0f, 100.0f, 5000.0f},        // Cave
    {100, -1000, -698, 0.0f, 7.24f, 0.33f, -1166, 0.020f, 16, 0.030f, 100.0f, 100.0f, 5000.0f},      // Arena
    {100, -1000, -1000, 0.0f, 10.05f, 0.23f, -602, 0.020f, 198, 0.030f, 100.0f, 100.0f, 5000.0f},    // Hangar
    {100, -1000, -4000, 0.0f, 0.30f, 0.10f, -1831, 0.002f, -1630, 0.030f, 100.0f, 100.0f, 5000.0f},  // CarpetedHallway
    {100, -1000, -300, 0.0f, 1.49f, 0.59f, -1219, 0.007f, 441, 0.011f, 100.0f, 100.0f, 5000.0f},     // Hallway
    {100, -1000, -237, 0.0f, 2.70f, 0.79f, -1214, 0.013f, 395, 0.020f, 100.0f, 100.0f, 5000.0f},     // StoneCorridor
    {100, -1000, -270, 0.0f, 1.49f, 0.86f, -1204, 0.007f, -4, 0.011f, 100.0f, 100.0f, 5000.0f},      // Alley
    {100, -1000, -800, 0.0f, 1.49f, 0.67f, -2273, 0.007f, -1691, 0.011f, 100.0f, 100.0f, 5000.0f},   // City
    {100, -1000, -2500, 0.0f, 1.49f, 0.21f, -2780, 0.300f, -1434, 0.100f, 27.0f, 100.0f, 5000.0f},   // Mountains
    {100, -1000, -1000, 0.0f, 1.49f, 0.83f, -10000, 0.061f, 500, 0.025f, 100.0f, 100.0f, 5000.0f},   // Quarry
    {100, -1000, -2000, 0.0f, 1.49f, 0.50f, -2466, 0.179f, -1926, 0.100f, 21.0f, 100.0f, 5000.0f},   // Plain
    {100, -1000, 0, 0.0f, 1.65f, 1.50f, -1363, 0.008f, -1153, 0.012f, 100.0f, 100.0f, 5000.0f},      // ParkingLot
    {100, -1000, -1000, 0.0f, 2.81f, 0.14f, 429, 0.014f, 648, 0.021f, 80.0f, 60.0f, 5000.0f},        // SewerPipe
    {100, -1000, -4000, 0.0f, 1.49f, 0.10f, -449, 0.007f, 1700, 0.011f, 100.0f, 100.0f, 5000.0f},    // Underwater
    {100, -1000, -600, 0.0f, 1.10f, 0.83f, -400, 0.005f, 500, 0.010f, 100.0f, 100.0f, 5000.0f},      // SmallRoom
    {100, -1000, -600, 0.0f, 1.30f, 0.83f, -1000, 0.010f, -200, 0.020f, 100.0f, 100.0f, 5000.0f},    // MediumRoom
    {100, -1000, -600, 0.0f, 1.50f, 0.83f, -1600, 0.020f, -1000, 0.040f, 100.0f, 100.0f, 5000.0f},   // LargeRoom
    {100, -1000, -600, 0.0f, 1.80f, 0.70f, -1300, 0.015f, -800, 0.030f, 100.0f, 100.0f, 5000.0f},    // MediumHall
    {100, -1000, -600, 0.0f, 1.80f, 0.70f, -2000, 0.030f, -1400, 0.060f, 100.0f, 100.0f, 5000.0f},   // LargeHall
    {100, -1000, -200, 0.0f, 1.30f, 0.90f, 0, 0.002f, 0, 0.010f, 100.0f, 75.0f, 5000.0f},            // Plate
};

// The conversion both layouts share; the 2.8 record adds the late-field switch.
void ConvertI3DL2(const I3DL2Preset& p, SoundReverbParameters* n) {
  n->rearDelay = 5;
  n->positionLeft = 6;
  n->positionRight = 6;
  n->positionMatrixLeft = 27;
  n->positionMatrixRight = 27;
  n->roomSize = 100.0f;
  n->lowEQCutoff = 4;
  n->highEQCutoff = 6;
  n->roomFilterMain = p.room / 100.0f;
  n->roomFilterHF = p.roomHF / 100.0f;
  if (p.decayHFRatio >= 1.0f) {
    int index = static_cast<int>(-4.0 * log10(p.decayHFRatio));
    if (index < -8) index = -8;
    n->lowEQGain = static_cast<unsigned char>(index < 0 ? index + 8 : 8);
    n->highEQGain = 8;
    n->decayTime = p.decayTime * p.decayHFRatio;
  } else {
    int index = static_cast<int>(4.0 * log10(p.decayHFRatio));
    if (index < -8) index = -8;
    n->lowEQGain = 8;
    n->highEQGain = static_cast<unsigned char>(index < 0 ? index + 8 : 8);
    n->decayTime = p.decayTime;
  }
  float reflectionsDelay = p.reflectionsDelay * 1000.0f;
  if (reflectionsDelay >= 300.0f) reflectionsDelay = 299.0f;
  else if (reflectionsDelay <= 1.0f) reflectionsDelay = 1.0f;
  n->reflectionsDelay = static_cast<uint32_t>(reflectionsDelay);
  float reverbDelay = p.reverbDelay * 1000.0f;
  if (reverbDelay >= 85.0f) reverbDelay = 84.0f;
  n->reverbDelay = static_cast<unsigned char>(reverbDelay);
  n->reflectionsGain = p.reflections / 100.0f;
  n->reverbGain = p.reverb / 100.0f;
  n->earlyDiffusion = static_cast<unsigned char>(15.0f * p.diffusion / 100.0f);
  n->lateDiffusion = n->earlyDiffusion;
  n->density = p.density;
  n->roomFilterFreq = p.hfReference;
  n->wetDryMix = p.wetDryMix;
}

}  // namespace

void ConvertI3DL2ToNative27(int preset, SoundReverbParameters* native) {
  memset(native, 0, sizeof(*native));
  ConvertI3DL2(Presets[preset], native);
}

void ConvertI3DL2ToNative28(int preset, SoundReverbParameters28* native) {
  memset(native, 0, sizeof(*native));
  ConvertI3DL2(Presets[preset], &native->base);
  native->disableLateField = 0;
}

void BuildReverbPresetTables() {
  for (int i = 0; i < SOUND_REVERB_PRESET_COUNT; i++) {
    ConvertI3DL2ToNative27(i, &SoundSystem.reverb27[i]);
    ConvertI3DL2ToNative28(i, &SoundSystem.reverb28[i]);
  }
}

int GetReverbPresetParameters(SoundReverbParameters* out, int preset) {
  if (SoundSystem.xaudio28 == nullptr && SoundSystem.xaudio27 == nullptr) return -1;
  if (preset < 0 || preset >= SOUND_REVERB_PRESET_COUNT) return -1;
  if (out == nullptr) return 0;
  *out = SoundSystem.xaudio28 ? SoundSystem.reverb28[preset].base : SoundSystem.reverb27[preset];
  return 0;
}
