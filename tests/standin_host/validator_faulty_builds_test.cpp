// The validator against builds that each break one rule: the check meant
// for that rule fails, and the validator says so in its report and exit
// status. That the correct plug-in passes every check is the CTest entry
// validator_on_plugin.
#include <gtest/gtest.h>

#include <string>

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
    // Faults a plain heap forgives; the page heap faults where they happen.
    {"FAULTY_READS_FREED_OBJECT.QVX", "ending-ok",
     "8 bytes into a freed block of 12 bytes allocated by DllGetInterface", ""},
    {"FAULTY_WRITES_PAST_BLOCK.QVX", "ending-ok",
     "0 bytes past the end of a live block of 12 bytes allocated by DllGetInterface", ""},
    {"FAULTY_CLOSES_ON_UNLISTED.QVX", "stored-values",
     "to stay open until the user acts; it ended by itself with 2 after", ""},
    {"FAULTY_LOSES_WHEEL_CHOICE.QVX", "random-user-sessions",
     "over the closed list]: the dialog shows", ""},
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

INSTANTIATE_TEST_SUITE_P(EachRule, ValidatorOnFaultyBuild, testing::ValuesIn(kFaultyBuilds));

}  // namespace
