// The dialog's platform-free arithmetic: the bit-rate list mapping and the
// centring of the dialog on the screen.
#include "plugin/dialog/dialog_logic.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>

namespace {

struct ListRow {
  int32_t index;
  int32_t bitRate;
  const char* text;
};

// The list as the user sees it, top to bottom.
const ListRow kList[] = {{0, 160, "160"}, {1, 128, "128"}, {2, 112, "112"}, {3, 80, "80"},
                         {4, 64, "64"},   {5, 56, "56"},   {6, 48, "48"},   {7, 32, "32"}};

TEST(BitRateList, EveryOfferedRateMapsToItsEntryAndBack) {
  ASSERT_EQ(8, kBitRateCount);
  for (const ListRow& row : kList) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.index, BitRateToIndex(row.bitRate));
    EXPECT_EQ(row.bitRate, IndexToBitRate(row.index));
    EXPECT_EQ(row.bitRate, kBitRates[row.index]);
    EXPECT_STREQ(row.text, kBitRateTexts[row.index]);
  }
}

TEST(BitRateList, RatesNotOfferedShowAsThirtyTwo) {
  const int32_t rates[] = {0, 16, 96, 200, -1, 33, 31, 161, INT32_MIN, INT32_MAX};
  for (int32_t rate : rates) {
    SCOPED_TRACE(rate);
    EXPECT_EQ(7, BitRateToIndex(rate));
  }
}

TEST(BitRateList, NoSelectionAndIndicesOutsideTheListGiveThirtyTwo) {
  const int32_t indices[] = {-1, 8, 1000, INT32_MIN, INT32_MAX, -2};
  for (int32_t index : indices) {
    SCOPED_TRACE(index);
    EXPECT_EQ(32, IndexToBitRate(index));
  }
}

struct CentringRow {
  const char* name;
  int32_t screenWidth, screenHeight, width, height;
  int32_t x, y;
};

TEST(DialogCentring, OriginSplitsTheSpareRoomTruncatingTowardZero) {
  const CentringRow rows[] = {
      {"640x480 screen, 400x200 dialog", 640, 480, 400, 200, 120, 140},
      {"odd spare room rounds down", 641, 481, 400, 200, 120, 140},
      {"5 px wider than the screen", 640, 480, 645, 200, -2, 140},
      {"5 px taller than the screen", 640, 480, 400, 485, 120, -2},
      {"exactly the screen", 800, 600, 800, 600, 0, 0},
      {"1 px wider than the screen truncates to 0", 640, 480, 641, 481, 0, 0},
      {"zero-sized screen", 0, 0, 400, 200, -200, -100},
  };
  for (const CentringRow& row : rows) {
    SCOPED_TRACE(row.name);
    Point origin = CentredOrigin(row.screenWidth, row.screenHeight, row.width, row.height);
    EXPECT_EQ(row.x, origin.x);
    EXPECT_EQ(row.y, origin.y);
  }
}

}  // namespace
