// The library's random generator: Mersenne Twister MT19937 with the
// 69069 linear-congruential seeding, and a refill in plain C++ or MMX.
#ifndef DEVIRERER_RANDOM_H
#define DEVIRERER_RANDOM_H

#include <stdint.h>

enum { RANDOM_STATE_WORDS = 624 };

struct RandomGeneratorRecord {
  uint32_t state[RANDOM_STATE_WORDS];
  uint32_t output[RANDOM_STATE_WORDS];  // tempered values of the current state
  int readIndex;                        // next output to hand out
  int useMmx;                           // 1: refill with MMX instructions
  int initialized;
};

extern RandomGeneratorRecord RandomGenerator;

// Fills the state from seed, chooses the refill form for this processor
// and refills.
void SeedRandomGenerator(uint32_t seed);
// Twists the state to its next 624 words, writes their tempered values to
// the output block and rewinds the read index. Both forms give the same
// values.
void RegenerateRandomState();
void RegenerateRandomStatePlain();
void RegenerateRandomStateMmx();  // only on processors with MMX

// 1 when the processor has CPUID and CPUID reports MMX.
int HasMmxSupport();
// Chooses the refill form (1 MMX, 0 plain) until the next seeding.
void SetRandomMmxFlag(int useMmx);

#endif  // DEVIRERER_RANDOM_H
