// The shipped DLL as the host loads it: its export table, and one pass
// through its exports from class info to unloading.
#include <windows.h>

#include <map>

#include "host/dialog_ids.h"
#include "test_config.h"
#include "tests/plugin/module/module_fixture.h"

namespace {

using host_doubles::DictionaryDouble;
using host_doubles::ParseGuid;
using host_doubles::RegistryDouble;

typedef std::vector<std::string> Events;

class PluginDll : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    dll_ = LoadLibraryA(PLUGIN_DLL_PATH);
    ASSERT_NE(nullptr, dll_);
  }
  void TearDown() override {
    if (dll_ != nullptr) FreeLibrary(dll_);
    ModuleTest::TearDown();
  }

  template <typename Fn>
  Fn Export(const char* name) {
    FARPROC address = GetProcAddress(dll_, name);
    EXPECT_NE(nullptr, address) << name;
    return reinterpret_cast<Fn>(address);
  }

  HMODULE dll_ = nullptr;
};

TEST_F(PluginDll, ExportsOrdinalsOneToFiveInNameOrder) {
  const char* names[] = {"DllCanUnloadNow", "DllGetClassForm", "DllGetClassInfo",
                         "DllGetClassObject", "DllGetInterface"};
  for (int ordinal = 1; ordinal <= 5; ++ordinal) {
    SCOPED_TRACE(names[ordinal - 1]);
    FARPROC byOrdinal = GetProcAddress(dll_, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(nullptr, byOrdinal);
    EXPECT_EQ(GetProcAddress(dll_, names[ordinal - 1]), byOrdinal);
  }
  EXPECT_EQ(nullptr, GetProcAddress(dll_, MAKEINTRESOURCEA(6)));
}

// What a host reads of the classes through the exports alone: the class-info
// block byte for byte (its terminator's versions left as allocated), and each
// class's size and a pair of hooks of its own that leave the instance alone.
TEST_F(PluginDll, ClassInfoAndEachClassFormAsTheHostReadsThem) {
  auto classInfo = Export<DllGetClassInfoFn>("DllGetClassInfo");
  auto classForm = Export<DllGetClassFormFn>("DllGetClassForm");
  ASSERT_FALSE(HasFailure());
  for (uint8_t fill : {0xCD, 0x5A}) {
    allocator_.fillPattern = fill;
    log_.Clear();
    ClassInfoRecord* table = nullptr;
    ASSERT_EQ(STATUS_OK, classInfo(allocator(), &table));
    EXPECT_EQ(Events({"Allocate(200)"}), log_.events());
    ASSERT_EQ(allocator_.blocks.back(), table);
    std::vector<std::string> expected = ExpectedClassInfo(fill);
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(expected[i], Hex(&table[i], sizeof(ClassInfoRecord)))
          << "record " << i << ", fill " << static_cast<int>(fill);
    }
  }
  const struct {
    const char* name;
    const char* classId;
  } classes[] = {{"RegistrationClass", "ED521726-737B-11CE-8A1D-08000757FC90"},
                 {"SettingsToolClass", "013C0256-737C-11CE-8A1D-08000757FC90"}};
  std::map<const void*, std::string> hookOwners;
  for (const auto& row : classes) {
    SCOPED_TRACE(row.name);
    const Guid classId = ParseGuid(row.classId);
    uint32_t size = 0;
    InstanceCreateHook create = nullptr;
    InstanceDestroyHook destroy = nullptr;
    ASSERT_EQ(STATUS_OK, classForm(&classId, &size, &create, &destroy));
    EXPECT_EQ(28u, size);
    log_.Clear();
    EXPECT_EQ(STATUS_OK, create(owner_.instance()));
    destroy(owner_.instance());
    EXPECT_TRUE(log_.events().empty()) << "the hooks called the host";
    const std::pair<const void*, std::string> hooks[] = {
        {reinterpret_cast<const void*>(create), std::string(row.name) + "'s create hook"},
        {reinterpret_cast<const void*>(destroy), std::string(row.name) + "'s destroy hook"}};
    for (const auto& hook : hooks) {
      auto added = hookOwners.insert(hook);
      EXPECT_TRUE(added.second) << hook.second << " is " << added.first->second << ", at "
                                << hook.first;
    }
  }
}

TEST_F(PluginDll, HostDrivesRegistrationFromClassInfoToUnload) {
  auto canUnload = Export<DllCanUnloadNowFn>("DllCanUnloadNow");
  auto classForm = Export<DllGetClassFormFn>("DllGetClassForm");
  auto classInfo = Export<DllGetClassInfoFn>("DllGetClassInfo");
  auto getInterface = Export<DllGetInterfaceFn>("DllGetInterface");
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(STATUS_OK, canUnload());

  ClassInfoRecord* table = nullptr;
  ASSERT_EQ(STATUS_OK, classInfo(allocator(), &table));
  std::vector<std::string> expected = ExpectedClassInfo(allocator_.fillPattern);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i], Hex(&table[i], sizeof(ClassInfoRecord))) << "record " << i;
  }

  const Guid registrationClass = ParseGuid("ED521726-737B-11CE-8A1D-08000757FC90");
  const Guid registrationInterface = ParseGuid("AC3E7803-0002-8FE5-0000-080007160DC3");
  uint32_t size = 0;
  InstanceCreateHook create = nullptr;
  InstanceDestroyHook destroy = nullptr;
  ASSERT_EQ(STATUS_OK, classForm(&registrationClass, &size, &create, &destroy));
  EXPECT_EQ(28u, size);
  EXPECT_EQ(STATUS_OK, create(owner_.instance()));

  InterfaceObject* registration = nullptr;
  ASSERT_EQ(STATUS_OK, getInterface(owner_.instance(), &registrationClass, &registrationInterface,
                                    &registration));
  EXPECT_EQ(ERR_IN_USE, canUnload());

  // The DLL's own entry point gave it its handle; the scope yields the DLL.
  callback_.scopeInstance = dll_;
  DictionaryDouble dictionary(&log_);
  RegistryDouble registry(&log_, &dictionary);
  typedef Status(PLUGIN_CALL * RegisterFn)(InterfaceObject*, HostRegistry*, uint32_t);
  EXPECT_EQ(STATUS_OK, MethodAt<RegisterFn>(registration, 3)(
                           registration, reinterpret_cast<HostRegistry*>(&registry), 77));
  EXPECT_EQ(std::vector<void*>{dll_}, callback_.openedModules);
  char name[256];
  int length = LoadStringA(dll_, IDS_DISPLAY_NAME, name, sizeof name);
  ASSERT_EQ(2u, dictionary.puts.size());
  EXPECT_EQ(std::string(name, length), dictionary.puts[0].value);
  EXPECT_EQ(77u, registry.entries.at(0).entryValue);

  EXPECT_EQ(0u, CallRelease(registration));
  EXPECT_EQ(STATUS_OK, canUnload());
  destroy(owner_.instance());

  EXPECT_EQ(
      Events({"Allocate(200)", "Allocate(12)", "AddRef(owner)", "AddRef(owner)",
              "OpenResourceScope", "CloseResourceScope", "AddEntry", "PutValue(displayNameString)",
              "PutValue(alwaysEnabled)", "Free", "Release(owner)", "Release(owner)"}),
      log_.events());
}

}  // namespace
