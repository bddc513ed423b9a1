// What the command tests share: the loaded plug-in, whose resources the
// scope hands out, the host doubles around one class instance, and byte-level
// access to the profile file.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "plugin/module/entry.h"
#include "plugin/module/interface_object.h"
#include "plugin/settings/settings.h"
#include "test_config.h"
#include "tests/support/host_doubles.h"
#include "tests/support/profile_file.h"

namespace profile = profile_file;

inline bool operator==(const CompressionSettings& a, const CompressionSettings& b) {
  return a.size == b.size && a.version == b.version && a.enabled == b.enabled &&
         a.bitRate == b.bitRate && a.quality == b.quality && a.preprocessing == b.preprocessing;
}

inline void PrintTo(const CompressionSettings& s, std::ostream* os) {
  *os << "{size " << s.size << ", version " << s.version << ", enabled " << s.enabled
      << ", bitRate " << s.bitRate << ", quality " << s.quality << ", preprocessing "
      << s.preprocessing << "}";
}

// One class instance with its host services, and an interface obtained for it
// through the module's creator. The resource scope yields the loaded plug-in.
class CommandTest : public ::testing::Test {
 protected:
  explicit CommandTest(InterfaceCreator creator) : creator_(creator) {}

  void SetUp() override {
    dll_ = LoadLibraryA(PLUGIN_DLL_PATH);
    ASSERT_NE(nullptr, dll_);
    // This program's copy of the module learns its handle as the DLL's would.
    DllMain(dll_, DLL_PROCESS_ATTACH, nullptr);
    callback_.scopeInstance = dll_;
    callback_.queryResult = &service_;
    liveBefore_ = LiveObjectCount;
    ASSERT_EQ(STATUS_OK, creator_(owner_.instance(), &object_));
    log_.Clear();
  }

  void TearDown() override {
    if (object_ != nullptr) MethodAt<ReleaseFn>(object_, kSlotRelease)(object_);
    EXPECT_EQ(liveBefore_, LiveObjectCount);
    EXPECT_TRUE(owner_.InstanceDataUntouched());
    profile::Remove();
    if (dll_ != nullptr) FreeLibrary(dll_);
  }

  InterfaceCreator creator_;
  HMODULE dll_ = nullptr;
  int32_t liveBefore_ = 0;
  InterfaceObject* object_ = nullptr;

  host_doubles::EventLog log_;
  host_doubles::CallbackDouble callback_{&log_};
  host_doubles::AllocatorDouble allocator_{&log_};
  host_doubles::OwnerInstance owner_{&log_, &callback_, &allocator_};
  host_doubles::DialogServiceDouble service_{&log_};
};
