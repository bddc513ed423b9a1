// OK on a read-only settings file, through the stand-in host. Runs only as an
// ordinary user (run_host_as_nobody.sh): as root, Wine writes through the
// read-only attribute.
//   readonly_host_test.exe --prepare-prefix            (once, in a run of its own)
//   readonly_host_test.exe <stand-in host> <plug-in>   (Windows paths)
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>
// after windows.h
#include <sddl.h>

#include <string>

#include "host_run.h"

namespace {

std::string g_plugin;

class StandinHostReadOnlyFile : public testing::Test {
 protected:
  void SetUp() override {
    RemoveProfile();
    WriteFileBytes(ProfilePath(), kSavedProfile);
    ASSERT_TRUE(SetFileAttributesA(ProfilePath().c_str(), FILE_ATTRIBUTE_READONLY));
  }
  void TearDown() override { RemoveProfile(); }
};

TEST_F(StandinHostReadOnlyFile, RefusesWritingToThisUser) {
  HANDLE file =
      CreateFileA(ProfilePath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "running with rights that ignore read-only files";
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

TEST_F(StandinHostReadOnlyFile, OkFailsInvokeWithAccessDeniedAndLosesNothing) {
  HostRun run = RunHost({"--set", "enabled=0", "--ok", g_plugin});

  ExpectUnsavedAfterOk(run, "0x80070005", 5);
}

// The validator's refused-write check makes its read-only case only here,
// where the platform refuses the write; as root it notes that it could not.
TEST(ValidatorAsOrdinaryUser, RunsTheReadOnlyCaseOfTheRefusedWriteCheck) {
  RemoveProfile();
  HostRun run = RunHost({"--validate", "--only", "settings-file-refuses-write", g_plugin});

  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "\nPASS settings-file-refuses-write\n")) << Describe(run);
}

// Everyone's access to `folder`, in the platform's descriptor language.
bool SetFolderAccess(const char* folder, const char* descriptor) {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1, &security,
                                                            nullptr))
    return false;
  BOOL set = SetFileSecurityA(folder, DACL_SECURITY_INFORMATION, security);
  LocalFree(security);
  return set != FALSE;
}

// The checks never write the Windows folder, so one that refuses this
// user's writes changes nothing: the checks of the settings file run, and no
// file appears there.
TEST(ValidatorAsOrdinaryUser, JudgesWhereTheWindowsFolderRefusesWrites) {
  RemoveProfile();
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  ASSERT_TRUE(SetFolderAccess(folder, "D:P(A;;GRGX;;;WD)"));
  HostRun run =
      RunHost({"--validate", "--only",
               "ending-ok,settings-file-touched-only-by-ok,settings-file-refuses-write", g_plugin});
  ASSERT_TRUE(SetFolderAccess(folder, "D:P(A;;GA;;;WD)"));

  EXPECT_EQ(0u, run.exitCode) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "\n3 passed, 0 failed\n")) << Describe(run);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProfilePath().c_str()));
}

// The prefix of uid 65534 is made without a display; Wine's null driver runs
// modal dialogs headless, as in the build's own prefix. The desktop process
// reads the setting when it starts, so it is set in a run of its own.
bool UseNullDisplayDriver() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  static const char kNull[] = "null";
  LONG status = RegSetValueExA(key, "Graphics", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNull),
                               sizeof kNull);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc == 2 && strcmp(argv[1], "--prepare-prefix") == 0) {
    if (UseNullDisplayDriver()) return 0;
    fprintf(stderr, "readonly_host_test: cannot select Wine's null display driver\n");
    return 1;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: readonly_host_test --prepare-prefix | <stand-in host> <plug-in>\n");
    return 2;
  }
  UseHostProgram(argv[1]);
  g_plugin = argv[2];
  return RUN_ALL_TESTS();
}
