// The validator against builds that each break one rule: the check meant
// for that rule fails, and the validator says so in its report and exit
// status. That the correct plug-in passes every check is the CTest entry
// validator_on_plugin.
#include <ctype.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_run.h"
#include "standin_host_paths.h"

namespace {

struct FaultyBuild {
  const char* file;     // in the build's test folder, or a full path
  const char* check;    // the check meant to catch it
  const char* because;  // part of the reason the validator gives
  const char* fakeFault;
};

const FaultyBuild kFaultyBuilds[] = {
    {SWAPPED_ORDINALS_FILE, "file", "export ordinals are wrong", ""},
    {"FAULTY_PINS_ITSELF.QVX", "repeated-load", "still loaded", ""},
    {"FAULTY_SINGLE_COPY.QVX", "second-copy", "to load beside the first", ""},
    {"FAULTY_CLOSES_ITSELF.QVX", "ending-ok", "ended by itself with 2 before the user acted", ""},
    {"FAULTY_IGNORES_CHOICE.QVX", "ending-cancel",
     "show bitRate=128 once the user set it; it shows 64", ""},
    {"FAULTY_CANCEL_RETURNS_OK.QVX", "ending-escape", "with Cancel (2); it ended with 1", ""},
    {"FAULTY_CANCEL_RETURNS_OK.QVX", "ending-close-box", "with Cancel (2); it ended with 1", ""},
    {"FAULTY_IGNORES_CANCEL.QVX", "ending-cancel", "still open 5 s later", ""},
    // The code is the platform's: an emulator may call the fault an illegal
    // instruction; the write through a null pointer shows either way.
    {"FAULTY_CRASHES_ON_CANCEL.QVX", "ending-escape", "a write at 00000000", ""},
    {"FAULTY_WRITES_ON_CANCEL.QVX", "settings-file-touched-only-by-ok",
     "the Cancel button to leave the settings file untouched", ""},
    {"FAULTY_WRITES_ON_UNLOAD.QVX", "settings-file-touched-only-by-ok",
     "unloading the plug-in to leave the settings file untouched", ""},
    {"FAULTY_STORES_UNSHOWN.QVX", "shown-is-stored", "what the dialog showed at OK", ""},
    {"FAULTY_FORGETS_MODULE_ON_THREAD_END.QVX", "worker-threads", "given module 00000000", ""},
    {"FAULTY_NO_NAME_FALLBACK.QVX", "foreign-resource-scope", "it carries \"\"", ""},
    {FAKE_PLUGIN_FILE, "allocation-refused", "failed with 0x80040004", "oom-as-no-interface"},
    {"FAULTY_HIDES_WRITE_FAILURE.QVX", "settings-file-refuses-write", "it returned 0", ""},
    {"FAULTY_MONO_NEVER_GREYED.QVX", "random-user-sessions", "the mono box is enabled", ""},
    // Faults a plain heap forgives; the page heap faults where they happen,
    // or finds the write in the bytes an 8-byte aligned block leaves before
    // its guard page once the block is freed.
    {"FAULTY_READS_FREED_OBJECT.QVX", "ending-ok",
     "8 bytes into a freed block of 12 bytes allocated by DllGetInterface", ""},
    {"FAULTY_WRITES_PAST_BLOCK.QVX", "ending-ok",
     "0 bytes past the end of a live block of 12 bytes allocated by DllGetInterface (the "
     "registration interface) (allocation 3), found when Release freed it",
     ""},
    {"FAULTY_CLOSES_ON_UNLISTED.QVX", "stored-values",
     "to stay open until the user acts; it ended by itself with 2 after", ""},
    // Its dialogs are held open all at once: one that will not end must not
    // hold the check up until its time limit.
    {"FAULTY_IGNORES_CANCEL.QVX", "stored-values",
     "the Cancel button to end it within 5 s; it is still open", ""},
    // Where the write lands depends on how fast the dialogs open; it is caught
    // wherever it does.
    {"FAULTY_WRITES_WHILE_OPEN.QVX", "stored-values",
     "to leave the file's bytes and time alone; its bytes changed", ""},
    {"FAULTY_WRITES_ON_UNLOAD.QVX", "stored-values",
     "unloading the plug-in after Cancel, with the later files' dialogs still open, to leave", ""},
    {"FAULTY_LOSES_WHEEL_CHOICE.QVX", "random-user-sessions",
     "over the closed list]: the dialog shows", ""},
    {"FAULTY_SHARES_HOOKS.QVX", "file",
     "expected each class its own create hook; RegistrationClass and SettingsToolClass share", ""},
};

class ValidatorOnFaultyBuild : public testing::TestWithParam<FaultyBuild> {};

TEST_P(ValidatorOnFaultyBuild, FailsTheCheckMeantForIt) {
  const FaultyBuild& row = GetParam();
  std::string file = row.file[0] == '/' ? row.file : std::string(FAULTY_PLUGIN_FOLDER) + row.file;
  HostRun run = RunHost({"--validate", "--only", row.check, "--sessions", "50", "--seed", "1",
                         WinePath(file.c_str())},
                        row.fakeFault);
  EXPECT_EQ(1u, run.exitCode) << Describe(run);
  size_t verdict = run.out.find(std::string("\nFAIL ") + row.check + ": ");
  ASSERT_NE(std::string::npos, verdict) << Describe(run);
  std::string line = run.out.substr(verdict + 1, run.out.find('\n', verdict + 1) - verdict - 1);
  EXPECT_TRUE(Contains(line, row.because)) << line;
  EXPECT_TRUE(Contains(run.out, "\n0 passed, 1 failed\n")) << Describe(run);
}

// Rows are named by their file and check, so a failure says which build.
std::string RowName(const testing::TestParamInfo<FaultyBuild>& info) {
  std::string file = info.param.file;
  std::string name = file.substr(file.find_last_of('/') + 1) + "_" + info.param.check;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(EachRule, ValidatorOnFaultyBuild, testing::ValuesIn(kFaultyBuilds),
                         RowName);

// The user's own settings file, as the validator finds it, must be there
// after the run whatever became of the checks' processes.
const char kUsersOwnFile[] = "[VELConfigData]\r\nenabled=0\r\nbitRate=112\r\n; the user's\r\n";

FILETIME PlantUsersFile() {
  RemoveProfile();
  WriteFileBytes(ProfilePath(), kUsersOwnFile);
  HANDLE file = CreateFileA(ProfilePath().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  SYSTEMTIME past = {2011, 5, 4, 5, 12, 0, 0, 0};
  FILETIME written;
  SystemTimeToFileTime(&past, &written);
  SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  FlushProfileCache();
  return written;
}

// The validator's own folder for this user and computer, wherever it runs from.
std::string GuardFolder() {
  char base[MAX_PATH];
  char computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = sizeof computer;
  GetEnvironmentVariableA("LOCALAPPDATA", base, MAX_PATH);
  GetComputerNameA(computer, &length);
  return std::string(base) + "\\plugin-validator\\" + computer + "\\";
}

std::string BackupFile() { return GuardFolder() + "settings-backup"; }

// The user's bytes and time, and no backup left behind.
void ExpectUsersFile(const FILETIME& planted) {
  bool exists = false;
  EXPECT_EQ(kUsersOwnFile, ReadFileBytes(ProfilePath(), &exists));
  HANDLE file = CreateFileA(ProfilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  FILETIME written = {};
  GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  EXPECT_EQ(0, CompareFileTime(&planted, &written)) << "the file was written again";
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(BackupFile().c_str()));
}

struct ChildEnd {
  const char* name;
  const char* file;
  const char* check;
  std::vector<std::string> options;
  const char* because;
};

class ValidatorKeepsUsersFile : public testing::TestWithParam<ChildEnd> {};

TEST_P(ValidatorKeepsUsersFile, WhateverTheCheckDid) {
  const ChildEnd& row = GetParam();
  FILETIME planted = PlantUsersFile();
  std::vector<std::string> arguments = {"--validate", "--only", row.check, "--sessions", "0"};
  arguments.insert(arguments.end(), row.options.begin(), row.options.end());
  arguments.push_back(WinePath((std::string(FAULTY_PLUGIN_FOLDER) + row.file).c_str()));
  HostRun run = RunHost(arguments);
  EXPECT_EQ(1u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, std::string("\nFAIL ") + row.check + ": ")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, row.because)) << Describe(run);
  ExpectUsersFile(planted);
}

INSTANTIATE_TEST_SUITE_P(
    EachEnd, ValidatorKeepsUsersFile,
    // Escape for the crash: under qemu, Wine was seen to hang on the fault when
    // it came through the Cancel button's click, and to report it from the key.
    testing::Values(
        ChildEnd{"crash", "FAULTY_CRASHES_ON_CANCEL.QVX", "ending-escape", {}, "without crashing"},
        ChildEnd{"time_limit",
                 "FAULTY_HANGS_ON_CANCEL.QVX",
                 "ending-cancel",
                 {"--time-limit", "15"},
                 "it made no progress for 15 s after: "},
        // Output that is no step is no progress.
        ChildEnd{"endless_output",
                 "FAULTY_CHATTERS_ON_CANCEL.QVX",
                 "ending-cancel",
                 {"--time-limit", "15"},
                 "it made no progress for 15 s after: the user's Cancel button"}),
    [](const testing::TestParamInfo<ChildEnd>& info) { return std::string(info.param.name); });

const char kUsersNewerFile[] = "[VELConfigData]\r\nenabled=1\r\n; written after the stop\r\n";

// What the user did between a validator stopped in the middle of a check
// and the next run, and what that run must leave.
struct AfterTheStop {
  const char* name;
  void (*userAction)();
  const char* said;     // by the next run
  const char* fileNow;  // the settings file after it; null: none
  bool keptAside;       // the stopped run's copy kept under a dated name
};

// The copies kept aside in the validator's folder, each removed once read.
std::vector<std::string> TakeKeptCopies() {
  std::vector<std::string> kept;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((GuardFolder() + "VELCNFG.INI.kept-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return kept;
  do {
    bool exists = false;
    std::string path = GuardFolder() + found.cFileName;
    kept.push_back(ReadFileBytes(path, &exists));
    DeleteFileA(path.c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return kept;
}

class ValidatorKeepsUsersFileAfterAStop : public testing::TestWithParam<AfterTheStop> {};

// A validator stopped in the middle of a check (power lost, killed) leaves a
// check's file where the user's was; the next run puts it back before
// anything else, unless the user has changed the file since.
TEST_P(ValidatorKeepsUsersFileAfterAStop, NextRunRepairsOrKeepsAside) {
  const AfterTheStop& row = GetParam();
  TakeKeptCopies();
  FILETIME planted = PlantUsersFile();
  std::string hanging = WinePath(FAULTY_PLUGIN_FOLDER "FAULTY_HANGS_ON_CANCEL.QVX");
  HANDLE validator = StartHost(
      {"--validate", "--only", "ending-cancel", "--sessions", "0", "--time-limit", "600", hanging});
  ASSERT_NE(nullptr, validator);
  bool exists = false;
  while (ReadFileBytes(ProfilePath(), &exists) == kUsersOwnFile &&
         WaitForSingleObject(validator, 100) == WAIT_TIMEOUT) {
  }
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(BackupFile().c_str()));
  TerminateProcess(validator, 1);
  WaitForSingleObject(validator, INFINITE);
  CloseHandle(validator);
  ASSERT_NE(kUsersOwnFile, ReadFileBytes(ProfilePath(), &exists)) << "the check planted no file";
  if (row.userAction != nullptr) row.userAction();

  HostRun next =
      RunHost({"--validate", "--only", "file", "--sessions", "0", WinePath(PLUGIN_FILE)});
  EXPECT_EQ(0u, next.exitCode) << Describe(next);
  EXPECT_TRUE(Contains(next.out, row.said)) << Describe(next);
  std::vector<std::string> kept = TakeKeptCopies();
  if (row.fileNow == kUsersOwnFile) {
    ExpectUsersFile(planted);
  } else {
    std::string now = ReadFileBytes(ProfilePath(), &exists);
    EXPECT_EQ(row.fileNow != nullptr, exists);
    if (row.fileNow != nullptr) EXPECT_EQ(row.fileNow, now);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(BackupFile().c_str()));
  }
  EXPECT_EQ(row.keptAside ? std::vector<std::string>{kUsersOwnFile} : std::vector<std::string>{},
            kept);
}

INSTANTIATE_TEST_SUITE_P(
    EachUserAction, ValidatorKeepsUsersFileAfterAStop,
    testing::Values(AfterTheStop{"check_file_left", nullptr,
                                 "An earlier run was interrupted: the settings file ",
                                 kUsersOwnFile, false},
                    AfterTheStop{"user_wrote_it_since",
                                 [] {
                                   WriteFileBytes(ProfilePath(), kUsersNewerFile);
                                   FlushProfileCache();
                                 },
                                 "was changed since (enabled=1 ", kUsersNewerFile, true},
                    AfterTheStop{"user_removed_it_since", RemoveProfile,
                                 "was changed since (removed)", nullptr, true}),
    [](const testing::TestParamInfo<AfterTheStop>& info) { return std::string(info.param.name); });

// A report folder and the files in it, gone.
void RemoveFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((folder + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// Two validators started together would plant their files over each other's:
// one runs, the other says which run holds the file and touches nothing.
TEST(ValidatorKeepsUsersFile, OneRunAtATime) {
  FILETIME planted = PlantUsersFile();
  std::string plugin = WinePath(PLUGIN_FILE);
  HANDLE runs[2];
  std::string outs[2];
  std::string folders[2];
  for (int i = 0; i < 2; ++i) {
    outs[i] = TempFile(("together" + std::to_string(i) + ".txt").c_str());
    folders[i] = TempFile(("together" + std::to_string(i)).c_str());
    RemoveFolder(folders[i]);
    runs[i] = StartHost({"--validate", "--only", "ending-ok,ending-cancel", "--sessions", "0",
                         "--report-folder", folders[i], plugin},
                        outs[i]);
    ASSERT_NE(nullptr, runs[i]);
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, runs, TRUE, 300000));
  DWORD status[2];
  for (int i = 0; i < 2; ++i) GetExitCodeProcess(runs[i], &status[i]);
  int refused = status[0] == 2 ? 0 : 1;
  int ran = 1 - refused;
  bool exists = false;
  std::string said = ReadFileBytes(outs[refused], &exists);
  std::string report = ReadFileBytes(outs[ran], &exists);
  EXPECT_EQ(2u, status[refused]) << said;
  EXPECT_EQ(0u, status[ran]) << report;
  std::string holder =
      "ANOTHER RUN IN PROGRESS (process " + std::to_string(GetProcessId(runs[ran])) + ", started ";
  EXPECT_EQ(0u, said.find(holder)) << said;
  EXPECT_EQ(said.size() - 1, said.find('\n')) << "one line: " << said;
  EXPECT_TRUE(Contains(report, "\n2 passed, 0 failed\n")) << report;
  // The report is where its line says, readable by Notepad on any Windows.
  size_t named = report.find("\nReport: ");
  ASSERT_NE(std::string::npos, named) << report;
  std::string path = report.substr(named + 9, report.find('\n', named + 1) - named - 9);
  EXPECT_EQ(0u, ReadFileBytes(path, &exists).find("\xEF\xBB\xBFValidating ")) << path;
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folders[refused].c_str()))
      << "the refused run made its report folder";
  for (int i = 0; i < 2; ++i) {
    CloseHandle(runs[i]);
    RemoveFolder(folders[i]);
  }
  ExpectUsersFile(planted);
}

}  // namespace
