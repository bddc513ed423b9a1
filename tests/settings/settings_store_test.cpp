#include <windows.h>

#include <gtest/gtest.h>

#include "settings/settings.h"

TEST(SettingsStore, DefaultsWithNoFile) {
  DeleteFileA("C:\\windows\\VELCNFG.INI");
  CompressionSettings s = {};
  EXPECT_EQ(1, ReadSettings(&s));
  EXPECT_EQ(24, s.size);
  EXPECT_EQ(1, s.version);
  EXPECT_EQ(1, s.enabled);
  EXPECT_EQ(16, s.bitRate);
  EXPECT_EQ(0, s.quality);
  EXPECT_EQ(1, s.preprocessing);
}
