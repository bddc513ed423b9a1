// Settings files as the platform may find them, through the stand-in host:
// what the dialog shows at opening must be what the platform's profile
// functions read from the same bytes, Cancel must leave the bytes alone, and
// a write the platform refuses after OK must come back as Invoke's status.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "host_run.h"
#include "standin_host_paths.h"

namespace {

const char kSection[] = "VELConfigData";

// All the plug-in gets from a file: enabled, bitRate, quality and
// preprocessing as GetPrivateProfileIntA reads them here.
using ReadValues = std::array<int, 4>;

ReadValues ReadProfileValues() {
  FlushProfileCache();
  auto read = [](const char* key, int fallback) {
    return static_cast<int>(GetPrivateProfileIntA(kSection, key, fallback, "VELCNFG.INI"));
  };
  ReadValues values = {read("enabled", 1), read("bitRate", 16), read("quality", 0),
                       read("preprocessing", 1)};
  FlushProfileCache();
  return values;
}

// The dialog's opening line for those values, mapped as the dialog shows them.
std::string ExpectedOpening(const ReadValues& values) {
  auto [enabled, bitRate, quality, preprocessing] = values;

  const int offered[] = {160, 128, 112, 80, 64, 56, 48};
  int shownRate = 32;
  for (int rate : offered) {
    if (rate == bitRate) shownRate = rate;
  }
  bool mono = preprocessing != 0 || shownRate == 32;
  std::string line = "  Dialog opened: enabled=" + std::to_string(enabled != 0 ? 1 : 0) +
                     " bitRate=" + std::to_string(shownRate) +
                     " quality=" + std::to_string(quality != 0 ? 1 : 0) +
                     " preprocessing=" + std::to_string(mono ? 1 : 0);
  if (enabled == 0) {
    line += " (disabled: bitRate, quality, preprocessing)";
  } else if (shownRate == 32) {
    line += " (disabled: preprocessing)";
  }
  return line + "\n";
}
std::string ExpectedOpening() { return ExpectedOpening(ReadProfileValues()); }

// Where two byte strings first differ, without printing megabytes.
std::string FirstDifference(const std::string& before, const std::string& after) {
  size_t at = 0;
  while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
  return "sizes " + std::to_string(before.size()) + " -> " + std::to_string(after.size()) +
         ", first difference at byte " + std::to_string(at);
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) bytes += '\0';
    bytes += c;
    if (!bigEndian) bytes += '\0';
  }
  return bytes;
}

// Deterministic noise over all 256 byte values.
std::string Noise(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// The section first, 10 MiB of other sections, then a second copy of the
// section with other values at the very end.
std::string TenMegabytes() {
  std::string bytes = "[VELConfigData]\r\nbitRate=64\r\n";
  const std::string filler = "[Filler]\r\npadding=" + std::string(200, 'x') + "\r\n";
  while (bytes.size() < 10 * 1024 * 1024) bytes += filler;
  return bytes + "[VELConfigData]\r\nenabled=0\r\nquality=1\r\n";
}

struct ProfileCase {
  const char* name;
  std::string (*bytes)();
};

#define ROW(name, text)                                      \
  ProfileCase {                                              \
    name, [] { return std::string(text, sizeof(text) - 1); } \
  }

const ProfileCase kProfiles[] = {
    {"BinaryNoise", [] { return Noise(4096, 7); }},
    {"BinaryAroundTheSection",
     [] {
       return Noise(300, 11) + "\r\n[VELConfigData]\r\nbitRate=112\r\nquality=1\r\n" +
              Noise(300, 13);
     }},
    {"TenMegabytes", TenMegabytes},
    {"Utf16LittleEndianWithBom",
     [] { return Utf16("[VELConfigData]\r\nenabled=1\r\nbitRate=80\r\nquality=1\r\n", false); }},
    {"Utf16BigEndianWithBom",
     [] { return Utf16("[VELConfigData]\r\nbitRate=80\r\npreprocessing=0\r\n", true); }},
    ROW("Utf8WithBom", "\xEF\xBB\xBF[VELConfigData]\r\nbitRate=160\r\npreprocessing=0\r\n"),
    ROW("NoFinalNewline", "[VELConfigData]\r\nbitRate=128\r\npreprocessing=0"),
    ROW("DuplicateSections",
        "[VELConfigData]\r\nbitRate=64\r\nquality=1\r\n[Other]\r\nx=1\r\n"
        "[VELConfigData]\r\nbitRate=128\r\npreprocessing=0\r\n"),
    ROW("DuplicateKeys",
        "[VELConfigData]\r\nbitRate=64\r\nbitRate=128\r\nenabled=0\r\nenabled=1\r\n"),
    ROW("OverflowingPositive", "[VELConfigData]\r\nbitRate=99999999999\r\nquality=4294967296\r\n"),
    ROW("OverflowingNegative", "[VELConfigData]\r\nenabled=-2147483649\r\nbitRate=-2147483649\r\n"),
    ROW("ExtremeButInRange", "[VELConfigData]\r\nbitRate=2147483647\r\nquality=-2147483648\r\n"),
    ROW("Hexadecimal", "[VELConfigData]\r\nbitRate=0x40\r\nquality=0x0\r\npreprocessing=0x10\r\n"),
    ROW("PlusSign", "[VELConfigData]\r\nenabled=+0\r\nbitRate=+5\r\n"),
    ROW("PlusSignOnAnOfferedRate", "[VELConfigData]\r\nbitRate=+64\r\npreprocessing=+0\r\n"),
    ROW("LeadingSpaceInValue", "[VELConfigData]\r\nbitRate= 7\r\nquality= 1\r\n"),
    ROW("TrailingLetters", "[VELConfigData]\r\nbitRate=12abc\r\nquality=1x\r\n"),
    ROW("TrailingLettersAfterAnOfferedRate", "[VELConfigData]\r\nbitRate=56kbps\r\n"),
    ROW("Letters", "[VELConfigData]\r\nenabled=abc\r\nbitRate=abc\r\nquality=abc\r\n"),
    ROW("DecimalPoint", "[VELConfigData]\r\nbitRate=64.9\r\n"),
    ROW("NegativeFlags", "[VELConfigData]\r\nenabled=-1\r\nquality=-1\r\npreprocessing=-1\r\n"),
    ROW("EmptyValues", "[VELConfigData]\r\nenabled=\r\nbitRate=\r\nquality=\r\npreprocessing=\r\n"),
    ROW("KeysInAnotherSection", "[Other]\r\nenabled=0\r\nbitRate=64\r\n[VELConfigData]\r\n"),
    ROW("NoSectionAtAll", "enabled=0\r\nbitRate=64\r\nquality=1\r\n"),
    ROW("CarriageReturnLineEnds", "[VELConfigData]\rbitRate=48\rquality=1\rpreprocessing=0\r"),
    ROW("LineFeedLineEnds", "[VELConfigData]\nbitRate=48\nquality=1\npreprocessing=0\n"),
    ROW("MixedLineEnds", "[VELConfigData]\r\r\nbitRate=56\n\rquality=1\r\npreprocessing=0\n"),
    {"VeryLongLines",
     [] {
       return "[VELConfigData]\r\ncomment=" + std::string(100000, 'y') + "\r\nbitRate=80\r\n" +
              std::string(70000, 'k') + "=1\r\nquality=1\r\nenabled=1" + std::string(5000, ' ') +
              "\r\n";
     }},
    {"VeryLongValue",
     [] { return "[VELConfigData]\r\nbitRate=64" + std::string(70000, '0') + "\r\n"; }},
    ROW("NulInTheMiddle",
        "[VELConfigData]\r\nenabled=0\r\nbit\0Rate=64\r\nquality=1\0\r\npreprocessing=0\r\n"),
    ROW("NulInTheSectionName", "[VELConfig\0Data]\r\nbitRate=64\r\n"),
    ROW("SectionHeaderWithoutBracket", "[VELConfigData\r\nbitRate=64\r\nquality=1\r\n"),
    ROW("SectionHeaderWithTrailingText", "[VELConfigData] settings\r\nbitRate=64\r\n"),
    ROW("SpacesInsideTheBrackets", "[ VELConfigData ]\r\nbitRate=112\r\n"),
    ROW("Tabs", "\t[VELConfigData]\t\r\n\tbitRate\t=\t64\t\r\nquality\t=1\r\n"),
    ROW("SpacesAroundEquals", "[VELConfigData]\r\n  bitRate  =  160  \r\npreprocessing = 0\r\n"),
    ROW("Comments",
        "; settings\r\n[VELConfigData]\r\n;bitRate=64\r\nbitRate=128 ; fast\r\n#quality=1\r\n"
        "preprocessing=0\r\n"),
    ROW("CaseDifferences", "[velconfigdata]\r\nBITRATE=64\r\nEnabled=1\r\nQuality=1\r\n"),
    ROW("QuotedValues", "[VELConfigData]\r\nbitRate=\"64\"\r\nquality='1'\r\n"),
    ROW("KeyWithoutEquals", "[VELConfigData]\r\nbitRate\r\nenabled\r\nquality=1\r\n"),
    ROW("EqualsWithoutKey", "[VELConfigData]\r\n=64\r\n=0\r\n"),
    ROW("EmptyFile", ""),
    ROW("OnlyBlankLines", "\r\n\r\n   \r\n\t\r\n"),
    ROW("ShiftJisNames",
        "[\x90\xDD\x92\xE8]\r\n\x83\x4C\x81\x5B=\x92\x6C\r\n[VELConfigData]\r\nbitRate=48\r\n"
        "quality=\x82\x50\r\n"),
    ROW("VersionAndSizeKeysIgnored", "[VELConfigData]\r\nversion=99\r\nsize=7\r\nbitRate=56\r\n"),
};
#undef ROW

// The first row whose file reads as `values`. Each row's file is written and
// read once per process.
const char* FirstRowReadingAs(const ReadValues& values) {
  static const std::vector<ReadValues> rows = [] {
    std::vector<ReadValues> read;
    for (const ProfileCase& row : kProfiles) {
      RemoveProfile();
      WriteFileBytes(ProfilePath(), row.bytes());
      read.push_back(ReadProfileValues());
    }
    RemoveProfile();
    return read;
  }();
  size_t i = 0;
  while (rows[i] != values) ++i;  // the row being run reads as `values`
  return kProfiles[i].name;
}

class StandinHostProfileFile : public testing::TestWithParam<ProfileCase> {
 protected:
  void TearDown() override { RemoveProfile(); }
};

// How the platform reads hostile bytes is the same whichever build loads
// them; what a build makes of the values is its own. So the GNU build's
// entry runs every row, the other toolchains' one row per set of values.
TEST_P(StandinHostProfileFile, DialogShowsWhatThePlatformReadsAndCancelKeepsTheBytes) {
  std::string bytes = GetParam().bytes();
  RemoveProfile();
  WriteFileBytes(ProfilePath(), bytes);
  ReadValues values = ReadProfileValues();
  if (getenv("PLUGIN_UNDER_TEST") != nullptr) {
    std::string first = FirstRowReadingAs(values);
    if (first != GetParam().name) {
      GTEST_SKIP() << "the plug-in gets the same values from row " << first << ", run here";
    }
    WriteFileBytes(ProfilePath(), bytes);  // finding the first row wrote the others
  }
  std::string expected = ExpectedOpening(values);

  HostRun run = RunHost({"--cancel", WinePath(PLUGIN_FILE)});

  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, expected)) << "expected:\n" << expected << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Dialog returned 2 (Cancel)\n  Invoke returned 0x00000000\n"))
      << Describe(run);
  EXPECT_EQ("", run.err);
  bool exists = false;
  std::string after = ReadFileBytes(ProfilePath(), &exists);
  EXPECT_TRUE(exists);
  EXPECT_TRUE(after == bytes) << FirstDifference(bytes, after);
}

INSTANTIATE_TEST_SUITE_P(Hostile, StandinHostProfileFile, testing::ValuesIn(kProfiles),
                         [](const testing::TestParamInfo<ProfileCase>& info) {
                           return std::string(info.param.name);
                         });

// Guards the table above: the file the test writes and reads is the one the
// plug-in reads, so the rows do not agree merely on defaults.
TEST(StandinHostProfileFileGuard, ThePlatformReadsTheFileTheTestWrites) {
  RemoveProfile();
  WriteFileBytes(ProfilePath(),
                 "[VELConfigData]\r\nenabled=1\r\nbitRate=112\r\nquality=1\r\npreprocessing=0\r\n");
  std::string expected = ExpectedOpening();
  EXPECT_EQ("  Dialog opened: enabled=1 bitRate=112 quality=1 preprocessing=0\n", expected);
  HostRun run = RunHost({"--cancel", WinePath(PLUGIN_FILE)});
  EXPECT_TRUE(Contains(run.out, expected)) << Describe(run);
  RemoveProfile();
}

TEST(StandinHostSavingFails, FileHeldByAnotherProcessFailsInvokeAndKeepsTheBytes) {
  RemoveProfile();
  WriteFileBytes(ProfilePath(), kSavedProfile);
  // Readers are welcome; no one may write while this process holds the file.
  HANDLE held = CreateFileA(ProfilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  HostRun run =
      RunHost({"--set", "bitRate=128", "--set", "quality=1", "--ok", WinePath(PLUGIN_FILE)});
  CloseHandle(held);

  ExpectUnsavedAfterOk(run, "0x80070020", 32);
  RemoveProfile();
}

}  // namespace
