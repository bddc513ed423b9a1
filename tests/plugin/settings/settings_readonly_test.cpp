// Writing over a read-only profile file. Runs only as an ordinary user
// (run_as_nobody.sh): as root, Wine writes through the read-only attribute.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "plugin/settings/settings.h"
#include "tests/support/profile_file.h"

namespace {

const char kBefore[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=1\r\nversion=1\r\n";

class SettingsStoreReadOnly : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_file::Remove();
    ASSERT_TRUE(profile_file::Write(kBefore));
    ASSERT_TRUE(SetFileAttributesA(profile_file::Path().c_str(), FILE_ATTRIBUTE_READONLY));
    profile_file::FlushCache();
  }
  void TearDown() override { profile_file::Remove(); }
};

TEST_F(SettingsStoreReadOnly, TheFileReallyRefusesWriting) {
  HANDLE file = CreateFileA(profile_file::Path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "running with rights that ignore read-only files";
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

TEST_F(SettingsStoreReadOnly, WriteFailsWithAccessDeniedAndLeavesTheFile) {
  CompressionSettings s = {24, 1, 0, 128, 1, 0};
  SetLastError(0);
  EXPECT_EQ(0, WriteSettings(&s));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(kBefore, profile_file::Read());

  // The record keeps the user's values; the next read gives the file's.
  EXPECT_EQ(128, s.bitRate);
  CompressionSettings back = {};
  ReadSettings(&back);
  EXPECT_EQ(1, back.enabled);
  EXPECT_EQ(64, back.bitRate);
  EXPECT_EQ(0, back.quality);
  EXPECT_EQ(1, back.preprocessing);
}

}  // namespace
