#include "plugin/dialog/dialog_logic.h"

const int32_t kBitRates[kBitRateCount] = {160, 128, 112, 80, 64, 56, 48, 32};
const char* const kBitRateTexts[kBitRateCount] = {"160", "128", "112", "80",
                                                  "64",  "56",  "48",  "32"};

int32_t BitRateToIndex(int32_t bitRate) {
  for (int32_t index = 0; index < kBitRateCount - 1; ++index) {
    if (kBitRates[index] == bitRate) return index;
  }
  return kBitRateCount - 1;
}

int32_t IndexToBitRate(int32_t index) {
  if (index >= 0 && index < kBitRateCount) return kBitRates[index];
  return 32;
}

Point CentredOrigin(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height) {
  return Point{(screenWidth - width) / 2, (screenHeight - height) / 2};
}
