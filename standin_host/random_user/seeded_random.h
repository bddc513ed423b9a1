// A small deterministic generator (splitmix64): the same seed and session
// number give the same session on every machine and build, which a
// platform or library generator does not promise.
#pragma once

#include <stdint.h>

class SeededRandom {
 public:
  SeededRandom(uint32_t seed, uint32_t session)
      : state_((static_cast<uint64_t>(seed) << 32) | session) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to count - 1; the slight bias of the modulo does not matter here.
  int Below(int count) { return static_cast<int>(Next() % static_cast<uint64_t>(count)); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};
