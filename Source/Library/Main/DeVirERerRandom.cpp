// Mersenne Twister MT19937.
#include "DeVirERerRandom.h"

#include <mmintrin.h>

#include "RaRadaraSysInfo.h"

RandomGeneratorRecord RandomGenerator;

namespace {

const int kWords = RANDOM_STATE_WORDS;
const int kShift = 397;  // distance of the word each new word is mixed with
const uint32_t kUpperMask = 0x80000000u;
const uint32_t kLowerMask = 0x7FFFFFFFu;
const uint32_t kMatrixA = 0x9908B0DFu;
const uint32_t kTemperB = 0x9D2C5680u;
const uint32_t kTemperC = 0xEFC60000u;

inline uint32_t Twist(uint32_t current, uint32_t next, uint32_t far) {
  const uint32_t y = (current & kUpperMask) | (next & kLowerMask);
  return far ^ (y >> 1) ^ ((y & 1u) ? kMatrixA : 0u);
}

inline uint32_t Temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & kTemperB;
  y ^= (y << 15) & kTemperC;
  y ^= y >> 18;
  return y;
}

// The MMX refill works on two words at a time in mm0-mm7; MMX memory
// operands need no alignment.
const uint32_t kTwistConstants[8]
    __attribute__((aligned(8))) = {kUpperMask, kUpperMask, kLowerMask, kLowerMask, 1u, 1u, kMatrixA, kMatrixA};
const uint32_t kTemperConstants[4] __attribute__((aligned(8))) = {kTemperB, kTemperB, kTemperC, kTemperC};

// out[i] = Twist(current[i], current[i + 1], far[i]) for 2 x pairs words;
// out may be current.
void TwistPairsMmx(uint32_t* out, const uint32_t* current, const uint32_t* far, int pairs) {
  __asm__ volatile(
      "movq (%[k]), %%mm4\n\t"    // upper masks
      "movq 8(%[k]), %%mm5\n\t"   // lower masks
      "movq 16(%[k]), %%mm6\n\t"  // ones
      "movq 24(%[k]), %%mm7\n"    // matrix constants
      "1:\n\t"
      "movq (%[cur]), %%mm0\n\t"
      "movq 4(%[cur]), %%mm1\n\t"
      "pand %%mm4, %%mm0\n\t"
      "pand %%mm5, %%mm1\n\t"
      "por %%mm1, %%mm0\n\t"  // y
      "movq %%mm0, %%mm1\n\t"
      "pand %%mm6, %%mm1\n\t"
      "pcmpeqd %%mm6, %%mm1\n\t"  // all ones where y is odd
      "pand %%mm7, %%mm1\n\t"
      "psrld $1, %%mm0\n\t"
      "pxor (%[far]), %%mm0\n\t"
      "pxor %%mm1, %%mm0\n\t"
      "movq %%mm0, (%[out])\n\t"
      "addl $8, %[cur]\n\t"
      "addl $8, %[far]\n\t"
      "addl $8, %[out]\n\t"
      "decl %[n]\n\t"
      "jnz 1b\n\t"
      : [out] "+r"(out), [cur] "+r"(current), [far] "+r"(far), [n] "+r"(pairs)
      : [k] "r"(kTwistConstants)
      : "mm0", "mm1", "mm4", "mm5", "mm6", "mm7", "memory", "cc");
}

// out[i] = Temper(in[i]) for 2 x pairs words.
void TemperPairsMmx(uint32_t* out, const uint32_t* in, int pairs) {
  __asm__ volatile(
      "movq (%[k]), %%mm4\n\t"
      "movq 8(%[k]), %%mm5\n"
      "1:\n\t"
      "movq (%[in]), %%mm0\n\t"
      "movq %%mm0, %%mm1\n\t"
      "psrld $11, %%mm1\n\t"
      "pxor %%mm1, %%mm0\n\t"
      "movq %%mm0, %%mm1\n\t"
      "pslld $7, %%mm1\n\t"
      "pand %%mm4, %%mm1\n\t"
      "pxor %%mm1, %%mm0\n\t"
      "movq %%mm0, %%mm1\n\t"
      "pslld $15, %%mm1\n\t"
      "pand %%mm5, %%mm1\n\t"
      "pxor %%mm1, %%mm0\n\t"
      "movq %%mm0, %%mm1\n\t"
      "psrld $18, %%mm1\n\t"
      "pxor %%mm1, %%mm0\n\t"
      "movq %%mm0, (%[out])\n\t"
      "addl $8, %[in]\n\t"
      "addl $8, %[out]\n\t"
      "decl %[n]\n\t"
      "jnz 1b\n\t"
      : [out] "+r"(out), [in] "+r"(in), [n] "+r"(pairs)
      : [k] "r"(kTemperConstants)
      : "mm0", "mm1", "mm4", "mm5", "memory", "cc");
}

}  // namespace

int HasMmxSupport() {
  CpuidResults cpuid;
  ReadCpuid(&cpuid);
  CpuFeatures features;
  return EvaluateCpuid(&cpuid, &features) >= CPU_LEVEL_MMX ? 1 : 0;
}

void SetRandomMmxFlag(int useMmx) { RandomGenerator.useMmx = (useMmx != 0 && HasMmxSupport()) ? 1 : 0; }

void SeedRandomGenerator(uint32_t seed) {
  uint32_t x = seed;
  for (int i = 0; i < kWords; ++i) {
    uint32_t word = x & 0xFFFF0000u;
    x = x * 69069u + 1u;
    word |= x >> 16;
    x = x * 69069u + 1u;
    RandomGenerator.state[i] = word;
  }
  RandomGenerator.useMmx = HasMmxSupport();
  RandomGenerator.initialized = 1;
  RegenerateRandomState();
}

void RegenerateRandomState() {
  if (RandomGenerator.useMmx == 1) RegenerateRandomStateMmx();
  else RegenerateRandomStatePlain();
}

void RegenerateRandomStatePlain() {
  uint32_t* const s = RandomGenerator.state;
  int k = 0;
  for (; k < kWords - kShift; ++k) s[k] = Twist(s[k], s[k + 1], s[k + kShift]);
  for (; k < kWords - 1; ++k) s[k] = Twist(s[k], s[k + 1], s[k + kShift - kWords]);
  s[kWords - 1] = Twist(s[kWords - 1], s[0], s[kShift - 1]);

  for (int i = 0; i < kWords; ++i) RandomGenerator.output[i] = Temper(s[i]);
  RandomGenerator.readIndex = 0;
}

void RegenerateRandomStateMmx() {
  uint32_t* const s = RandomGenerator.state;

  // Words 0..225 mix with old words 397..622.
  TwistPairsMmx(s, s, s + kShift, 113);
  // Words 226 and 227 mix with old word 623 and new word 0.
  const uint32_t wrapFar[2] = {s[kWords - 1], s[0]};
  TwistPairsMmx(s + 226, s + 226, wrapFar, 1);
  // Words 228..621 mix with new words 1..394.
  TwistPairsMmx(s + 228, s + 228, s + 1, 197);
  // Words 622 and 623: the last one's successor is the new word 0.
  const uint32_t wrapCurrent[3] = {s[kWords - 2], s[kWords - 1], s[0]};
  TwistPairsMmx(s + 622, wrapCurrent, s + 395, 1);

  TemperPairsMmx(RandomGenerator.output, s, kWords / 2);
  _mm_empty();
  RandomGenerator.readIndex = 0;
}
