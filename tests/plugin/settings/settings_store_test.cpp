// The settings store against the real profile functions (Wine's), plus the
// exact calls it makes, seen through a redirected import table.
#include <gtest/gtest.h>
#include <limits.h>
#include <windows.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "plugin/settings/settings.h"
#include "tests/support/profile_file.h"

namespace {

constexpr char kSection[] = "[VELConfigData]\r\n";

CompressionSettings Record(int32_t enabled, int32_t bitRate, int32_t quality,
                           int32_t preprocessing) {
  return CompressionSettings{24, 1, enabled, bitRate, quality, preprocessing};
}

std::string FileFor(int32_t enabled, int32_t bitRate, int32_t quality, int32_t preprocessing) {
  return std::string(kSection) + "enabled=" + std::to_string(enabled) +
         "\r\nbitRate=" + std::to_string(bitRate) + "\r\nquality=" + std::to_string(quality) +
         "\r\npreprocessing=" + std::to_string(preprocessing) + "\r\nversion=1\r\n";
}

void ExpectRecord(const CompressionSettings& expected, const CompressionSettings& actual) {
  EXPECT_EQ(expected.size, actual.size);
  EXPECT_EQ(expected.version, actual.version);
  EXPECT_EQ(expected.enabled, actual.enabled);
  EXPECT_EQ(expected.bitRate, actual.bitRate);
  EXPECT_EQ(expected.quality, actual.quality);
  EXPECT_EQ(expected.preprocessing, actual.preprocessing);
}

// Garbage that ReadSettings must overwrite field by field.
CompressionSettings Scribbled() { return CompressionSettings{-7, -7, -7, -7, -7, -7}; }

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { profile_file::Remove(); }
  void TearDown() override { profile_file::Remove(); }
};

TEST_F(SettingsStore, ReadsDefaultsWhenNoFileExists) {
  ASSERT_FALSE(profile_file::Exists());
  CompressionSettings s = Scribbled();
  EXPECT_EQ(1, ReadSettings(&s));
  ExpectRecord(Record(1, 16, 0, 1), s);
  EXPECT_FALSE(profile_file::Exists()) << "reading must not create the file";
}

TEST_F(SettingsStore, WritesSectionAndFiveKeysInOrderAsExactBytes) {
  CompressionSettings s = Record(1, 32, 0, 1);
  EXPECT_EQ(1, WriteSettings(&s));
  EXPECT_EQ(FileFor(1, 32, 0, 1), profile_file::Read());
}

// Values the dialog never produces still travel through the file unchanged,
// negative ones written with a minus sign.
TEST_F(SettingsStore, ValuesOutsideTheDialogsChoicesRoundTrip) {
  struct Row {
    const char* name;
    CompressionSettings record;
  };
  const Row rows[] = {
      {"bit rate 100", Record(1, 100, 0, 1)},
      {"bit rate -1", Record(1, -1, 0, 1)},
      {"enabled 3", Record(3, 32, 0, 1)},
      {"quality 5", Record(1, 32, 5, 1)},
      {"all negative", Record(-1, -2, -3, -4)},
      {"int extremes", Record(INT_MIN, INT_MAX, INT_MIN, INT_MAX)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    profile_file::Remove();
    EXPECT_EQ(1, WriteSettings(&row.record));
    EXPECT_EQ(FileFor(row.record.enabled, row.record.bitRate, row.record.quality,
                      row.record.preprocessing),
              profile_file::Read());
    profile_file::FlushCache();
    CompressionSettings back = Scribbled();
    EXPECT_EQ(1, ReadSettings(&back));
    ExpectRecord(row.record, back);
  }
}

TEST_F(SettingsStore, VersionInFileIsIgnoredAndRewrittenAsOne) {
  ASSERT_TRUE(profile_file::Write(std::string(kSection) + "enabled=0\r\nbitRate=64\r\nquality=1\r\n"
                                                          "preprocessing=0\r\nversion=7\r\n"));
  CompressionSettings s = Scribbled();
  ReadSettings(&s);
  ExpectRecord(Record(0, 64, 1, 0), s);
  EXPECT_EQ(1, WriteSettings(&s));
  EXPECT_EQ(FileFor(0, 64, 1, 0), profile_file::Read());
}

// What GetPrivateProfileIntA itself makes of the current file, with the
// store's defaults.
CompressionSettings PlatformReading() {
  auto get = [](const char* key, int fallback) {
    return static_cast<int32_t>(
        GetPrivateProfileIntA(kProfileSection, key, fallback, kProfileFile));
  };
  return Record(get("enabled", 1), get("bitRate", 16), get("quality", 0), get("preprocessing", 1));
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Utf16(const std::string& ascii) {
  std::string out("\xFF\xFE", 2);
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// Whatever the file holds, reading finishes and gives exactly what the
// platform's integer conversion gives; where that is known, it is pinned.
TEST_F(SettingsStore, HostileFilesReadAsThePlatformConvertsThem) {
  struct Row {
    const char* name;
    std::string bytes;
    bool pinned;
    CompressionSettings expected;
  };
  const std::string s = kSection;
  const Row rows[] = {
      {"other section only", "[Other]\r\nenabled=0\r\nbitRate=64\r\n", true, Record(1, 16, 0, 1)},
      {"text that is not a number", s + "enabled=abc\r\nbitRate=12abc\r\nquality= 7\r\n", true,
       Record(0, 12, 7, 1)},
      {"signs and hex", s + "enabled=+5\r\nbitRate=0x10\r\nquality=-1\r\n", true,
       Record(5, 16, -1, 1)},
      {"huge numbers wrap", s + "bitRate=99999999999\r\nquality=4294967297\r\n", true,
       Record(1, 1215752191, 1, 1)},
      {"empty values", s + "enabled=\r\nbitRate=\r\nquality=\r\npreprocessing=\r\n", true,
       Record(1, 16, 0, 1)},
      {"huge negative and other radixes",
       s + "enabled=-99999999999\r\nbitRate=0b101\r\nquality=0o17\r\n",
       false,
       {}},
      {"very long value", s + "bitRate=" + Repeat("9", 200000) + "\r\nquality=1\r\n", false, {}},
      {"very long line without equals", s + Repeat("x", 300000) + "\r\nenabled=0\r\n", false, {}},
      {"very long key", s + Repeat("k", 100000) + "=5\r\npreprocessing=0\r\n", false, {}},
      {"binary bytes",
       s + Bytes("enabled=\0\x01\xFF\r\nbit\x00Rate=3\r\n\x1A\x7Fquality=\x80\x81\r\n") +
           "preprocessing=\xFE\r\n",
       false,
       {}},
      {"multi-megabyte file",
       Repeat("[Filler]\r\nkey=some text that fills the file\r\n", 70000) + s +
           "bitRate=48\r\nquality=1\r\n",
       false,
       {}},
      {"duplicate sections",
       s + "bitRate=48\r\n[Other]\r\n" + s + "bitRate=80\r\nquality=1\r\n",
       false,
       {}},
      {"duplicate keys", s + "bitRate=48\r\nbitRate=80\r\nenabled=0\r\nenabled=1\r\n", false, {}},
      {"section and keys in other case with spaces",
       "[velconfigdata]\r\n  BITRATE = 56 \r\nEnabled\t=\t0\r\n",
       false,
       {}},
      {"bare line feeds and no final line break",
       "[VELConfigData]\nbitRate=112\nquality=1",
       false,
       {}},
      {"unterminated section header", "[VELConfigData\r\nbitRate=112\r\n", false, {}},
      {"utf-16 file", Utf16(s + "bitRate=128\r\nenabled=0\r\n"), false, {}},
      {"utf-8 byte order mark", "\xEF\xBB\xBF" + s + "bitRate=128\r\n", false, {}},
      {"only binary noise", Bytes("\0\0\xFF\xFE\0[\0=\0\r"), false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(profile_file::Write(row.bytes));
    CompressionSettings read = Scribbled();
    EXPECT_EQ(1, ReadSettings(&read));
    profile_file::FlushCache();
    ExpectRecord(PlatformReading(), read);
    if (row.pinned) ExpectRecord(row.expected, read);
  }
}

TEST_F(SettingsStore, WriteFailsWhileAnotherHandleDeniesWriteSharing) {
  const std::string before = FileFor(1, 64, 0, 1);
  ASSERT_TRUE(profile_file::Write(before));
  HANDLE holder = CreateFileA(profile_file::Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);

  CompressionSettings s = Record(0, 128, 1, 0);
  SetLastError(0);
  EXPECT_EQ(0, WriteSettings(&s));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  CloseHandle(holder);
  EXPECT_EQ(before, profile_file::Read());

  // The failed attempt leaves nothing behind that spoils the next write.
  EXPECT_EQ(1, WriteSettings(&s));
  EXPECT_EQ(FileFor(0, 128, 1, 0), profile_file::Read());
}

// The calls the store makes, recorded by stand-ins for the profile functions.
struct ProfileCall {
  std::string section, key, value, file;
  int fallback;
};

struct ProfileDouble {
  std::vector<ProfileCall> calls;
  std::vector<DWORD> writeErrors;  // per write call; 0 succeeds
};

ProfileDouble* g_double = nullptr;

// A successful call may leave any value as the last error.
constexpr DWORD kLeftoverError = 0xDEAD;

std::string Text(const char* s) { return s ? s : "<null>"; }

UINT WINAPI FakeGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  g_double->calls.push_back({Text(section), Text(key), "", Text(file), fallback});
  // Distinct per call, so a value stored in the wrong field shows.
  return 100 + static_cast<UINT>(g_double->calls.size());
}

BOOL WINAPI FakeWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  size_t index = g_double->calls.size();
  g_double->calls.push_back({Text(section), Text(key), Text(value), Text(file), 0});
  DWORD error = index < g_double->writeErrors.size() ? g_double->writeErrors[index] : 0;
  SetLastError(error ? error : kLeftoverError);
  return error ? FALSE : TRUE;
}

class SettingsStoreCalls : public ::testing::Test {
 protected:
  void SetUp() override { g_double = &double_; }
  void TearDown() override { g_double = nullptr; }

  void ExpectWrites(const CompressionSettings& r) {
    const char* keys[] = {"enabled", "bitRate", "quality", "preprocessing", "version"};
    const int32_t values[] = {r.enabled, r.bitRate, r.quality, r.preprocessing, r.version};
    ASSERT_EQ(5u, double_.calls.size());
    for (size_t i = 0; i < 5; ++i) {
      SCOPED_TRACE(keys[i]);
      EXPECT_EQ(kProfileSection, double_.calls[i].section);
      EXPECT_EQ(keys[i], double_.calls[i].key);
      EXPECT_EQ(std::to_string(values[i]), double_.calls[i].value);
      EXPECT_EQ(kProfileFile, double_.calls[i].file);
    }
  }

  ProfileDouble double_;
};

TEST_F(SettingsStoreCalls, ReadAsksForFourKeysInOrderWithDefaultsAndNeverVersion) {
  ImportPatch patch("KERNEL32.dll", "GetPrivateProfileIntA", reinterpret_cast<void*>(FakeGetInt));
  ASSERT_TRUE(patch.active());
  CompressionSettings s = Scribbled();
  EXPECT_EQ(1, ReadSettings(&s));
  const char* keys[] = {"enabled", "bitRate", "quality", "preprocessing"};
  const int defaults[] = {1, 16, 0, 1};
  ASSERT_EQ(4u, double_.calls.size());
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(keys[i]);
    EXPECT_EQ(kProfileSection, double_.calls[i].section);
    EXPECT_EQ(keys[i], double_.calls[i].key);
    EXPECT_EQ(defaults[i], double_.calls[i].fallback);
    EXPECT_EQ(kProfileFile, double_.calls[i].file);
  }
  ExpectRecord(CompressionSettings{24, 1, 101, 102, 103, 104}, s);
}

TEST_F(SettingsStoreCalls, WriteSendsFiveKeysInOrderAsDecimalText) {
  ImportPatch patch("KERNEL32.dll", "WritePrivateProfileStringA",
                    reinterpret_cast<void*>(FakeWrite));
  ASSERT_TRUE(patch.active());
  CompressionSettings s = {24, 1, 1, INT_MIN, INT_MAX, 0};
  EXPECT_EQ(1, WriteSettings(&s));
  ExpectWrites(s);
}

TEST_F(SettingsStoreCalls, WriteSendsTheRecordsVersionField) {
  ImportPatch patch("KERNEL32.dll", "WritePrivateProfileStringA",
                    reinterpret_cast<void*>(FakeWrite));
  CompressionSettings s = {24, 3, 1, 32, 0, 1};
  EXPECT_EQ(1, WriteSettings(&s));
  ExpectWrites(s);
}

// Every key is attempted whatever fails; the result is 0 and the last error
// is the first failure's, even when later calls change it.
TEST_F(SettingsStoreCalls, FailedWritesStillAttemptEveryKeyAndReportTheFirstError) {
  struct Row {
    const char* name;
    std::vector<DWORD> errors;
    DWORD expectedError;
  };
  const Row rows[] = {
      {"first key fails", {ERROR_SHARING_VIOLATION}, ERROR_SHARING_VIOLATION},
      {"two keys fail differently",
       {0, ERROR_ACCESS_DENIED, 0, ERROR_SHARING_VIOLATION},
       ERROR_ACCESS_DENIED},
      {"only version fails", {0, 0, 0, 0, ERROR_DISK_FULL}, ERROR_DISK_FULL},
      {"every key fails",
       {ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ERROR_ACCESS_DENIED,
        ERROR_SHARING_VIOLATION},
       ERROR_LOCK_VIOLATION},
  };
  ImportPatch patch("KERNEL32.dll", "WritePrivateProfileStringA",
                    reinterpret_cast<void*>(FakeWrite));
  ASSERT_TRUE(patch.active());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    double_ = ProfileDouble{{}, row.errors};
    CompressionSettings s = Record(0, 80, 1, 0);
    EXPECT_EQ(0, WriteSettings(&s));
    EXPECT_EQ(row.expectedError, GetLastError());
    ExpectWrites(s);
  }
}

}  // namespace
