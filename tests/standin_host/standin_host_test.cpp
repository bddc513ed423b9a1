// The stand-in host as a program: spawned on the built plug-in and on fake
// plug-ins, judged by its report, its exit status and the settings file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host_run.h"
#include "standin_host_paths.h"

namespace {

const char kFreshDefaults[] =
    "  Dialog opened: enabled=1 bitRate=32 quality=0 preprocessing=1 (disabled: preprocessing)\n";
const char kSectionOfChoices[] =
    "[VELConfigData]\r\nenabled=0\r\nbitRate=128\r\nquality=1\r\npreprocessing=0\r\nversion=7\r\n";
// A file the dialog must never rewrite on Cancel: comments, another section,
// odd spacing and no final line break.
const char kUntouchable[] =
    "; kept by hand\r\n[Other]\r\nx=1\r\n\r\n[VELConfigData]\r\nenabled = 0\r\nbitRate=56\r\n"
    "quality=1\r\npreprocessing=1";

TEST(StandinHostOnPlugin, ReportsClassesFormsAndTheRegistrationEntry) {
  DeleteFileA(ProfilePath().c_str());
  HostRun run = RunHost({"--cancel", WinePath(PLUGIN_FILE)});
  ASSERT_EQ(0u, run.exitCode) << Describe(run);
  const char* expected[] = {
      "  DllGetInterface    ordinal 5\n",
      "Class info: 4 records and the terminator in a 200-byte block\n",
      "  1: class {ED521726-737B-11CE-8A1D-08000757FC90} v1, registration interface "
      "{AC3E7803-0002-8FE5-0000-080007160DC3} v1\n",
      "  3: class {013C0256-737C-11CE-8A1D-08000757FC90} v1, tool interface "
      "{ACCFF6D4-0018-10D5-0000-080007FC20C1} v1\n",
      "Class {013C0256-737C-11CE-8A1D-08000757FC90}: instance size 28\n",
      "  Register returned 0x00000000\n",
      "Registration entry 1: class {013C0256-737C-11CE-8A1D-08000757FC90}, tool interface "
      "{ACCFF6D4-0018-10D5-0000-080007FC20C1}\n"
      "  displayNameString = \"Quorvane for Audio 設定...\" (text, 26 bytes in code page 932)\n"
      "  alwaysEnabled = 1\n"
      "Running \"Quorvane for Audio 設定...\"\n",
      "  DllGetInterface (the tool interface) returned 0x00000000\n"
      "  GetEnabled returned 0x00000000, flag 1\n",
      "DllCanUnloadNow returned 0x00000000\n",
      "Balance: 5 allocations, 5 frees; 2 resource scope(s) opened, 2 closed\n",
  };
  for (const char* line : expected) EXPECT_TRUE(Contains(run.out, line)) << line << Describe(run);
  EXPECT_EQ("", run.err);
}

struct DialogCase {
  const char* name;
  const char* initialFile;  // null: no file
  std::vector<std::string> options;
  const char* opened;
  const char* returned;
  const char* finalFile;  // null: the file as it was, or still absent
};

class StandinHostDialog : public testing::TestWithParam<DialogCase> {};

TEST_P(StandinHostDialog, EndsAsScriptedAndWritesOnlyOnOk) {
  const DialogCase& row = GetParam();
  std::string profile = ProfilePath();
  DeleteFileA(profile.c_str());
  if (row.initialFile != nullptr) WriteFileBytes(profile, row.initialFile);
  std::vector<std::string> arguments = row.options;
  arguments.push_back(WinePath(PLUGIN_FILE));

  HostRun run = RunHost(arguments);

  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, row.opened)) << Describe(run);
  EXPECT_TRUE(Contains(run.out, row.returned)) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Invoke returned 0x00000000\n")) << Describe(run);
  bool exists = false;
  std::string bytes = ReadFileBytes(profile, &exists);
  const char* expected = row.finalFile != nullptr ? row.finalFile : row.initialFile;
  if (expected == nullptr) {
    EXPECT_FALSE(exists) << bytes;
  } else {
    EXPECT_TRUE(exists);
    EXPECT_EQ(expected, bytes);
  }
  DeleteFileA(profile.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, StandinHostDialog,
    testing::Values(
        DialogCase{
            "OkWithChoicesCreatesTheFile",
            nullptr,
            {"--set", "bitRate=64", "--set", "preprocessing=0", "--set", "quality=1", "--ok"},
            kFreshDefaults,
            "  Dialog after choices: enabled=1 bitRate=64 quality=1 preprocessing=0\n"
            "  Dialog returned 1 (OK)\n",
            "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=1\r\npreprocessing=0\r\n"
            "version=1\r\n"},
        DialogCase{"EnterActsAsOkOnTheFileAsRead",
                   kSectionOfChoices,
                   {"--set", "enabled=1", "--enter"},
                   "  Dialog opened: enabled=0 bitRate=128 quality=1 preprocessing=0 (disabled: "
                   "bitRate, quality, preprocessing)\n",
                   "  Dialog returned 1 (OK)\n",
                   "[VELConfigData]\r\nenabled=1\r\nbitRate=128\r\nquality=1\r\npreprocessing=0\r\n"
                   "version=1\r\n"},
        DialogCase{"CancelCreatesNoFile",
                   nullptr,
                   {"--set", "bitRate=160", "--set", "enabled=0", "--cancel"},
                   kFreshDefaults,
                   "  Dialog returned 2 (Cancel)\n",
                   nullptr},
        DialogCase{"CancelLeavesTheFileByteForByte",
                   kUntouchable,
                   {"--set", "enabled=1", "--set", "bitRate=160", "--set", "quality=0", "--cancel"},
                   "  Dialog opened: enabled=0 bitRate=56 quality=1 preprocessing=1 (disabled: "
                   "bitRate, quality, preprocessing)\n",
                   "  Dialog returned 2 (Cancel)\n",
                   nullptr},
        DialogCase{"EscapeActsAsCancel",
                   kSectionOfChoices,
                   {"--set", "enabled=1", "--escape"},
                   "enabled=0 bitRate=128",
                   "  Dialog returned 2 (Cancel)\n",
                   nullptr},
        DialogCase{"CloseBoxActsAsCancel",
                   kSectionOfChoices,
                   {"--close"},
                   "enabled=0 bitRate=128",
                   "  Dialog returned 2 (Cancel)\n",
                   nullptr}),
    [](const testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* fault;
  DWORD exitCode;
  const char* message;  // expected on standard error
};

class StandinHostFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(StandinHostFailure, ExitsNonZeroWithAClearMessage) {
  const FailureCase& row = GetParam();
  DeleteFileA(ProfilePath().c_str());
  HostRun run = RunHost(row.arguments, row.fault);
  EXPECT_EQ(row.exitCode, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.err, row.message)) << row.message << "\n" << Describe(run);
  EXPECT_FALSE(Contains(run.out, "Clean run")) << Describe(run);
  DeleteFileA(ProfilePath().c_str());
}

std::string TextFile() {
  std::string path = TempFile("notes.txt");
  WriteFileBytes(path, "just some notes\r\n");
  return path;
}

// Headers of a 64-bit DLL: all the host reads before it refuses.
std::string SixtyFourBitFile() {
  std::string bytes(512, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = 0x40;
  bytes.replace(0x40, 4, std::string("PE\0\0", 4));
  bytes[0x44] = 0x64;  // machine 0x8664
  bytes[0x45] = static_cast<char>(0x86);
  bytes[0x54] = static_cast<char>(0xF0);  // optional header size
  bytes[0x56] = 0x22;                     // executable image, large address aware
  bytes[0x57] = 0x20;                     // DLL
  bytes[0x58] = 0x0B;                     // PE32+
  bytes[0x59] = 0x02;
  std::string path = TempFile("wide.dll");
  WriteFileBytes(path, bytes);
  return path;
}

std::string ThisProgram() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

const std::string kFake = WinePath(FAKE_PLUGIN_FILE);

INSTANTIATE_TEST_SUITE_P(
    NotAPlugin, StandinHostFailure,
    testing::Values(
        FailureCase{"TextFile", {TextFile()}, "", 3, "it is not a Windows module (no MZ header)"},
        FailureCase{"SixtyFourBitDll",
                    {SixtyFourBitFile()},
                    "",
                    3,
                    "is not a 32-bit plug-in: it is a 64-bit module (PE32+, machine 0x8664)"},
        FailureCase{"Program", {ThisProgram()}, "", 3, "it is a program, not a DLL"},
        FailureCase{"MissingFile", {TempFile("absent.qvx")}, "", 3, "cannot open the file"},
        FailureCase{"MissingExport",
                    {WinePath(MISSING_EXPORT_FILE)},
                    "",
                    3,
                    "is not a plug-in: it does not export DllGetInterface"},
        FailureCase{"SwappedOrdinals",
                    {WinePath(SWAPPED_ORDINALS_FILE)},
                    "",
                    3,
                    "its export ordinals are wrong: DllGetClassForm is not ordinal 2, "
                    "DllGetClassInfo is not ordinal 3"},
        FailureCase{"NoFileGiven", {"--ok"}, "", 2, "no plug-in file given"},
        FailureCase{"BadChoice",
                    {"--set", "bitRate=fast", kFake},
                    "",
                    2,
                    "--set bitRate=fast: the value must be a positive number"},
        FailureCase{"FailAllocationZero",
                    {"--fail-allocation", "0", kFake},
                    "",
                    2,
                    "--fail-allocation 0: expected a whole number from 1 to 1000000"},
        FailureCase{"CyclesWithAScript",
                    {"--cycles", "5", "--ok", kFake},
                    "",
                    2,
                    "--bench-open and --cycles cancel every dialog once it is ready"},
        FailureCase{"LedgersOfOneFile",
                    {"--compare-ledgers", kFake},
                    "",
                    2,
                    "--compare-ledgers needs two plug-in files"},
        FailureCase{"LedgerWithAScript",
                    {"--ledger", TempFile("calls.txt"), "--cancel", kFake},
                    "",
                    2,
                    "--ledger and --compare-ledgers run a fixed road of their own"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Imbalance, StandinHostFailure,
    testing::Values(
        FailureCase{"ScopeLeftOpen",
                    {kFake},
                    "scope-left-open",
                    1,
                    "PROBLEM: 1 resource scope(s) were opened and not closed"},
        FailureCase{"ScopeClosedTwice",
                    {kFake},
                    "scope-closed-twice",
                    1,
                    "PROBLEM: the resource scope with cookie 0x5C0E0001 was closed twice"},
        FailureCase{"WrongCookie",
                    {kFake},
                    "wrong-cookie",
                    1,
                    "PROBLEM: CloseResourceScope was given cookie 0x5C0E0002, which no resource "
                    "scope has (wrong cookie)"},
        FailureCase{"ReferenceKept",
                    {kFake},
                    "reference-kept",
                    1,
                    "PROBLEM: the instance of class {5EED0001-0002-0003-0405-060708090A0B} holds 2 "
                    "references once its interfaces are released; only the host's 1 should "
                    "remain (AddRef 2, Release 1)"},
        FailureCase{"BlockNotFreed",
                    {kFake},
                    "block-not-freed",
                    1,
                    "PROBLEM: 1 block(s) of 16 bytes allocated through the HostAllocator were not "
                    "freed"},
        FailureCase{"ObjectNotFreed",
                    {kFake},
                    "object-not-freed",
                    1,
                    "PROBLEM: DllCanUnloadNow answered 0x80040003 after the host released every "
                    "interface"},
        FailureCase{
            "StillInUse", {kFake}, "in-use", 1, "PROBLEM: DllCanUnloadNow answered 0x80040003"},
        // Only out of memory answers a refused allocation.
        FailureCase{"OutOfMemoryMisreported",
                    {"--fail-allocation", "3", kFake},
                    "oom-as-no-interface",
                    1,
                    "PROBLEM: DllGetInterface (the registration interface) failed with 0x80040004"},
        // Only a confirmed dialog excuses a failed Invoke.
        FailureCase{"InvokeFailsWithoutOk",
                    {kFake},
                    "invoke-fails",
                    1,
                    "PROBLEM: Invoke failed with 0x80070005"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ImpossibleChoice, StandinHostFailure,
    testing::Values(
        // Without a file the mono box opens checked and disabled.
        FailureCase{"DisabledControl",
                    {"--set", "preprocessing=0", "--cancel", WinePath(PLUGIN_FILE)},
                    "",
                    1,
                    "cannot set preprocessing=0: the control is disabled"},
        FailureCase{"RateNotOffered",
                    {"--set", "bitRate=100", "--cancel", WinePath(PLUGIN_FILE)},
                    "",
                    1,
                    "cannot set bitRate=100: the bit-rate list offers no such entry"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(StandinHostOnFakePlugin, RunsCleanWhenNoFaultIsCommitted) {
  HostRun run = RunHost({kFake});
  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  displayNameString = \"Fake tool\"")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Invoke returned 0x00000000\n")) << Describe(run);
  EXPECT_EQ("", run.err);
}

// One row per allocation request of the whole road, in the order the host
// makes them; the road must end cleanly whichever one fails.
struct AllocationFailureCase {
  const char* name;
  const char* refused;  // the report's line for the refused request
  const char* outcome;  // how the call that needed it ended
};

const AllocationFailureCase kAllocationFailures[] = {
    {"ClassInfoTable",
     "  Allocation 1: 200 bytes for DllGetClassInfo (the class-info table), refused on purpose",
     "DllGetClassInfo returned 0x80040002\n"
     "  DllGetClassInfo answered out of memory to the refused allocation\n"},
    {"RegistrationInstance", "  Allocation 2: 32 bytes for the host (an instance of class {ED52",
     "  No instance of class {ED521726-737B-11CE-8A1D-08000757FC90}: the host's own allocation "
     "was refused; the class is skipped\n"},
    {"RegistrationInterface",
     "  Allocation 3: 12 bytes for DllGetInterface (the registration interface), refused on "
     "purpose",
     "  DllGetInterface (the registration interface) returned 0x80040002\n"},
    {"ToolInstance", "  Allocation 4: 32 bytes for the host (an instance of class {013C",
     "  No instance of class {013C0256-737C-11CE-8A1D-08000757FC90}: the host's own allocation "
     "was refused; the class is skipped\n"},
    {"ToolInterface",
     "  Allocation 5: 12 bytes for DllGetInterface (the tool interface), refused on purpose",
     "  DllGetInterface (the tool interface) returned 0x80040002\n"},
};
constexpr size_t kRoadAllocations = sizeof kAllocationFailures / sizeof kAllocationFailures[0];

// Allocations granted and freed, from the report's balance line.
void ExpectEveryBlockFreed(const HostRun& run) {
  size_t at = run.out.find("Balance: ");
  ASSERT_NE(std::string::npos, at) << Describe(run);
  unsigned allocations = 0;
  unsigned frees = 0;
  ASSERT_EQ(2,
            sscanf(run.out.c_str() + at, "Balance: %u allocations, %u frees", &allocations, &frees))
      << Describe(run);
  EXPECT_EQ(allocations, frees) << Describe(run);
}

TEST(StandinHostAllocations, TheWholeRoadMakesOneRequestPerTableRow) {
  RemoveProfile();
  HostRun run = RunHost({"--cancel", WinePath(PLUGIN_FILE)});
  ASSERT_EQ(0u, run.exitCode) << Describe(run);
  size_t requests = 0;
  for (size_t at = run.out.find("\n  Allocation "); at != std::string::npos;
       at = run.out.find("\n  Allocation ", at + 1))
    ++requests;
  EXPECT_EQ(kRoadAllocations, requests) << "each allocation of the road needs its own failure row\n"
                                        << Describe(run);
  EXPECT_TRUE(Contains(run.out, "Balance: " + std::to_string(kRoadAllocations) + " allocations, " +
                                    std::to_string(kRoadAllocations) + " frees"))
      << Describe(run);
}

class StandinHostAllocationFailure
    : public testing::TestWithParam<std::pair<uint32_t, AllocationFailureCase>> {};

TEST_P(StandinHostAllocationFailure, EndsBalancedWithTheStatusOfTheFailedCall) {
  uint32_t request = GetParam().first;
  const AllocationFailureCase& row = GetParam().second;
  RemoveProfile();
  HostRun run =
      RunHost({"--fail-allocation", std::to_string(request), "--cancel", WinePath(PLUGIN_FILE)});

  EXPECT_EQ(4u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, row.refused)) << row.refused << "\n" << Describe(run);
  EXPECT_TRUE(Contains(run.out, row.outcome)) << row.outcome << Describe(run);
  EXPECT_TRUE(Contains(run.out, "Allocation requests: " + std::to_string(request) + "; request " +
                                    std::to_string(request) + " was refused on purpose\n"))
      << "the road went on asking after the failure\n"
      << Describe(run);
  // Every failure comes before the dialog.
  EXPECT_FALSE(Contains(run.out, "Invoke returned")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "DllCanUnloadNow returned 0x00000000\n")) << Describe(run);
  ExpectEveryBlockFreed(run);
  EXPECT_EQ("", run.err) << "no PROBLEM: nothing leaked, nothing misbehaved";
  bool written = false;
  ReadFileBytes(ProfilePath(), &written);
  EXPECT_FALSE(written) << "a settings file was created";
}

INSTANTIATE_TEST_SUITE_P(
    Road, StandinHostAllocationFailure, testing::ValuesIn([] {
      std::vector<std::pair<uint32_t, AllocationFailureCase>> rows;
      for (uint32_t i = 0; i < kRoadAllocations; ++i)
        rows.push_back({i + 1, kAllocationFailures[i]});
      return rows;
    }()),
    [](const testing::TestParamInfo<std::pair<uint32_t, AllocationFailureCase>>& info) {
      return "Request" + std::to_string(info.param.first) + "_" + info.param.second.name;
    });

TEST(StandinHostAllocations, FailingTheRequestAfterTheLastRefusesNothing) {
  RemoveProfile();
  std::string control = std::to_string(kRoadAllocations + 1);
  HostRun run = RunHost({"--fail-allocation", control, "--cancel", WinePath(PLUGIN_FILE)});
  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "request " + control + " was never made, nothing was refused"))
      << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Dialog returned 2 (Cancel)\n  Invoke returned 0x00000000\n"))
      << Describe(run);
  EXPECT_TRUE(Contains(run.out, "DllCanUnloadNow returned 0x00000000\n")) << Describe(run);
  ExpectEveryBlockFreed(run);
  EXPECT_EQ("", run.err);
}

TEST(StandinHostRepeatedRuns, CyclesStayBalancedInOneProcess) {
  HostRun run = RunHost({"--cycles", "3", WinePath(PLUGIN_FILE)});
  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "Per cycle: ")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "allocation requests per cycle: 5.00")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Verdict: not judged; growth counts from cycle 100 on\n"))
      << Describe(run);
  EXPECT_TRUE(Contains(run.out,
                       "Balance: 15 allocations, 15 frees; 6 resource scope(s) opened, "
                       "6 closed"))
      << Describe(run);
  EXPECT_EQ("", run.err);
}

TEST(StandinHostRepeatedRuns, CyclesStopAtTheFirstThatLeaks) {
  HostRun run = RunHost({"--cycles", "50", kFake}, "block-not-freed");
  EXPECT_EQ(1u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Stopped at cycle 1: it left something behind\n"))
      << Describe(run);
  EXPECT_TRUE(Contains(run.err, "PROBLEM: 1 block(s) of 16 bytes")) << Describe(run);
}

TEST(StandinHostRepeatedRuns, OpeningBenchTimesBothDialogs) {
  HostRun run = RunHost({"--bench-open", "2", WinePath(PLUGIN_FILE)});
  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Invoke (the plug-in's road)  ready: median")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  bare DialogBoxParamW         ready: median")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "  Ratio of medians, Invoke to ready / bare dialog to ready: "))
      << Describe(run);
  EXPECT_EQ("", run.err);
}

// Two files' ledgers of the fixed road: the first line that differs is
// named in both versions, and the user's settings file is as it was. That
// the toolchains' builds agree is the CTest entries ledger_same_*.
TEST(StandinHostLedger, NamesTheFirstLineThatDiffersAndKeepsTheSettingsFile) {
  RemoveProfile();
  WriteFileBytes(ProfilePath(), kUntouchable);
  FlushProfileCache();
  HostRun run = RunHost({"--compare-ledgers", WinePath(PLUGIN_FILE),
                         WinePath(FAULTY_PLUGIN_FOLDER "FAULTY_CANCEL_RETURNS_OK.QVX")});
  EXPECT_EQ(1u, run.exitCode) << Describe(run);
  // The Cancel button's road is the first where the two builds part.
  const std::string dialog =
      ":   HostDialogService.RunModalDialog(the scope's module, 101, address)";
  EXPECT_TRUE(Contains(run.out, "The ledgers differ at line ")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "VELSTTNG.QVX" + dialog + " = 2 (Cancel)\n  Z:")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "FAULTY_CANCEL_RETURNS_OK.QVX" + dialog + " = 1 (OK)\n"))
      << Describe(run);
  bool exists = false;
  EXPECT_EQ(kUntouchable, ReadFileBytes(ProfilePath(), &exists));
  RemoveProfile();
}

}  // namespace
