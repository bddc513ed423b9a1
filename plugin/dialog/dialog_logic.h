// Platform-free parts of the settings dialog: the bit-rate list mapping and
// the centring arithmetic.
#pragma once

#include <stdint.h>

constexpr int kBitRateCount = 8;
// The list's entries in order; an entry's position is its index.
extern const int32_t kBitRates[kBitRateCount];
extern const char* const kBitRateTexts[kBitRateCount];

// 0 to 7; any rate that is not offered maps to the entry "32".
int32_t BitRateToIndex(int32_t bitRate);
// One of the offered rates; -1 (no selection) and out-of-range give 32.
int32_t IndexToBitRate(int32_t index);

struct Point {
  int32_t x;
  int32_t y;
};
// Origin that centres a window on the screen; truncating division, so a
// window wider than the screen gets a negative x.
Point CentredOrigin(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height);
