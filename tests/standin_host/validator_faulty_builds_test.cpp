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
  const char* file;   // in the build's test folder, or a full path
  const char* check;  // the check meant to catch it
  const char* fakeFault;
};

const FaultyBuild kFaultyBuilds[] = {
    {SWAPPED_ORDINALS_FILE, "file", ""},
    {"FAULTY_PINS_ITSELF.QVX", "repeated-load", ""},
    {"FAULTY_SINGLE_COPY.QVX", "second-copy", ""},
    {"FAULTY_CLOSES_ITSELF.QVX", "ending-ok", ""},
    {"FAULTY_IGNORES_CHOICE.QVX", "ending-cancel", ""},
    {"FAULTY_CANCEL_RETURNS_OK.QVX", "ending-escape", ""},
    {"FAULTY_CANCEL_RETURNS_OK.QVX", "ending-close-box", ""},
    {"FAULTY_IGNORES_CANCEL.QVX", "ending-cancel", ""},
    {"FAULTY_WRITES_ON_CANCEL.QVX", "settings-file-touched-only-by-ok", ""},
    {"FAULTY_WRITES_ON_UNLOAD.QVX", "settings-file-touched-only-by-ok", ""},
    {"FAULTY_STORES_UNSHOWN.QVX", "shown-is-stored", ""},
    {"FAULTY_FORGETS_MODULE_ON_THREAD_END.QVX", "worker-threads", ""},
    {"FAULTY_NO_NAME_FALLBACK.QVX", "foreign-resource-scope", ""},
    {FAKE_PLUGIN_FILE, "allocation-refused", "oom-as-no-interface"},
    {"FAULTY_HIDES_WRITE_FAILURE.QVX", "settings-file-refuses-write", ""},
};

class ValidatorOnFaultyBuild : public testing::TestWithParam<FaultyBuild> {};

TEST_P(ValidatorOnFaultyBuild, FailsTheCheckMeantForIt) {
  const FaultyBuild& row = GetParam();
  std::string file = row.file[0] == '/' ? row.file : std::string(FAULTY_PLUGIN_FOLDER) + row.file;
  HostRun run = RunHost({"--validate", "--only", row.check, WinePath(file.c_str())}, row.fakeFault);
  EXPECT_EQ(1u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, std::string("\nFAIL ") + row.check + ": ")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "\n0 passed, 1 failed\n")) << Describe(run);
}

INSTANTIATE_TEST_SUITE_P(EachRule, ValidatorOnFaultyBuild, testing::ValuesIn(kFaultyBuilds));

}  // namespace
