// The module's entry callback: what it answers and what it keeps.
#include "plugin/module/entry.h"

#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "plugin/module/interface_object.h"
#include "plugin/settings/settings.h"
#include "test_config.h"

namespace {

// Taken before main, when nothing has called the entry yet.
const HINSTANCE kHandleAtLoad = ModuleHandle;

// A handle value no real module has, so a stored copy is unmistakable.
HINSTANCE FakeHandle(uintptr_t tag) {
  return reinterpret_cast<HINSTANCE>(0x10000000 + tag * 0x10000);
}

std::string ProfilePath() {
  char folder[MAX_PATH];
  UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder, length) + "\\" + kProfileFile;
}

struct Reason {
  const char* name;
  DWORD value;
};
const Reason kReasons[] = {
    {"process attach", DLL_PROCESS_ATTACH},
    {"thread attach", DLL_THREAD_ATTACH},
    {"thread detach", DLL_THREAD_DETACH},
    {"process detach", DLL_PROCESS_DETACH},
};

TEST(ModuleEntry, HandleIsNullBeforeTheFirstNotification) { EXPECT_EQ(nullptr, kHandleAtLoad); }

TEST(ModuleEntry, AnswersOneForEveryReasonAndStoresTheHandle) {
  uintptr_t tag = 1;
  for (const Reason& reason : kReasons) {
    SCOPED_TRACE(reason.name);
    for (LPVOID reserved : {static_cast<LPVOID>(nullptr), reinterpret_cast<LPVOID>(1)}) {
      HINSTANCE handle = FakeHandle(tag++);
      EXPECT_EQ(TRUE, DllMain(handle, reason.value, reserved));
      EXPECT_EQ(handle, ModuleHandle);
    }
  }
}

TEST(ModuleEntry, ProcessDetachLeavesTheHandleSet) {
  HINSTANCE handle = FakeHandle(20);
  ASSERT_EQ(TRUE, DllMain(handle, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(TRUE, DllMain(handle, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(handle, ModuleHandle);
}

TEST(ModuleEntry, ChangesNothingElseInTheModule) {
  DeleteFileA(ProfilePath().c_str());
  const CompressionSettings marked = {11, 12, 13, 14, 15, 16};
  g_settings = marked;
  LiveObjectCount = 3;
  for (const Reason& reason : kReasons) {
    SCOPED_TRACE(reason.name);
    DllMain(FakeHandle(30), reason.value, nullptr);
    EXPECT_EQ(0, memcmp(&marked, &g_settings, sizeof marked));
    EXPECT_EQ(3, LiveObjectCount);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProfilePath().c_str()))
        << "the entry must not touch the profile file";
  }
  LiveObjectCount = 0;
  g_settings = CompressionSettings{};
}

DWORD WINAPI DoNothing(LPVOID) { return 0; }

// The shipped module's own entry runs at load, unload and around a thread's
// life; a refusal at attach would make loading fail.
TEST(ModuleEntry, ShippedModuleLoadsSeesThreadsAndUnloads) {
  HMODULE dll = LoadLibraryA(PLUGIN_DLL_PATH);
  ASSERT_NE(nullptr, dll) << "LoadLibrary error " << GetLastError();
  HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  CloseHandle(thread);
  EXPECT_NE(nullptr, GetProcAddress(dll, "DllCanUnloadNow"));
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_EQ(nullptr, GetModuleHandleA(PLUGIN_FILE_NAME));
}

}  // namespace
