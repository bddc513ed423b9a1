// The class table as the host sees it through the exports, and the walker
// and identifier comparison underneath.
#include "plugin/commands/registration.h"
#include "plugin/commands/tool.h"
#include "tests/plugin/module/module_fixture.h"

namespace {

using host_doubles::GuidText;
using host_doubles::ParseGuid;

typedef std::vector<std::string> Events;

const Guid kRegistrationClass = ParseGuid("ED521726-737B-11CE-8A1D-08000757FC90");
const Guid kRegistrationInterface = ParseGuid("AC3E7803-0002-8FE5-0000-080007160DC3");
const Guid kSettingsTool = ParseGuid("013C0256-737C-11CE-8A1D-08000757FC90");
const Guid kToolInterface = ParseGuid("ACCFF6D4-0018-10D5-0000-080007FC20C1");
const Guid kClassFactory = ParseGuid("00000001-0000-0000-C000-000000000046");
// The settings tool's id with its last byte changed.
const Guid kNoSuchClass = ParseGuid("013C0256-737C-11CE-8A1D-08000757FC91");

InterfaceObject* const kUnwritten = reinterpret_cast<InterfaceObject*>(0x0BADF00D);

class ClassesAndExports : public ModuleTest {};

TEST_F(ClassesAndExports, ClassInfoIsOneBlockOfFiveRecords) {
  for (uint8_t fill : {0xCD, 0x5A}) {
    SCOPED_TRACE(static_cast<int>(fill));
    log_.Clear();
    allocator_.fillPattern = fill;
    ClassInfoRecord* table = reinterpret_cast<ClassInfoRecord*>(kUnwritten);

    EXPECT_EQ(STATUS_OK, DllGetClassInfo(allocator(), &table));
    EXPECT_EQ(Events({"Allocate(200)"}), log_.events());
    ASSERT_EQ(allocator_.blocks.back(), table);
    std::vector<std::string> expected = ExpectedClassInfo(fill);
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE("record " + std::to_string(i));
      EXPECT_EQ(expected[i], Hex(&table[i], sizeof(ClassInfoRecord)));
    }
  }
}

TEST_F(ClassesAndExports, ClassInfoWithoutMemoryAnswersOutOfMemory) {
  allocator_.failAllocation = 1;
  ClassInfoRecord* table = reinterpret_cast<ClassInfoRecord*>(kUnwritten);
  EXPECT_EQ(ERR_OUT_OF_MEMORY, DllGetClassInfo(allocator(), &table));
  EXPECT_EQ(nullptr, table);
  EXPECT_EQ(Events({"Allocate(200)"}), log_.events());
}

TEST_F(ClassesAndExports, ClassFormGivesSizeAndHooksOfTheFirstMatchingClass) {
  const struct {
    const char* name;
    const Guid* classId;
    Status status;
    int tableRow;  // -1: nothing written
  } rows[] = {
      {"settings tool", &kSettingsTool, STATUS_OK, 1},
      {"registration", &kRegistrationClass, STATUS_OK, 0},
      {"null id: the first class", nullptr, STATUS_OK, 0},
      {"unknown id", &kNoSuchClass, ERR_NO_CLASS, -1},
  };
  const auto unwrittenCreate = reinterpret_cast<InstanceCreateHook>(0x1111);
  const auto unwrittenDestroy = reinterpret_cast<InstanceDestroyHook>(0x2222);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint32_t size = 0xDEADBEEF;
    InstanceCreateHook create = unwrittenCreate;
    InstanceDestroyHook destroy = unwrittenDestroy;

    EXPECT_EQ(row.status, DllGetClassForm(row.classId, &size, &create, &destroy));
    if (row.tableRow < 0) {
      EXPECT_EQ(0xDEADBEEFu, size);
      EXPECT_EQ(unwrittenCreate, create);
      EXPECT_EQ(unwrittenDestroy, destroy);
      continue;
    }
    EXPECT_EQ(28u, size);
    EXPECT_EQ(ClassTable[row.tableRow].createHook, create);
    EXPECT_EQ(ClassTable[row.tableRow].destroyHook, destroy);
    EXPECT_EQ(STATUS_OK, create(owner_.instance()));
    destroy(owner_.instance());
  }
  EXPECT_NE(ClassTable[0].createHook, ClassTable[1].createHook);
  EXPECT_NE(ClassTable[0].destroyHook, ClassTable[1].destroyHook);
  EXPECT_TRUE(log_.events().empty()) << "hooks touched the instance";
}

TEST_F(ClassesAndExports, GetInterfaceCreatesOnlyTheInterfaceOfAMatchingClass) {
  const struct {
    const char* name;
    const Guid* classId;
    const Guid* interfaceId;
    Status status;
    MethodTable* (*methods)();
  } rows[] = {
      {"tool interface, no class given", nullptr, &kToolInterface, STATUS_OK, GetToolMethods},
      {"tool interface of the settings tool", &kSettingsTool, &kToolInterface, STATUS_OK,
       GetToolMethods},
      {"registration interface, no class given", nullptr, &kRegistrationInterface, STATUS_OK,
       GetRegistrationMethods},
      {"registration interface of its class", &kRegistrationClass, &kRegistrationInterface,
       STATUS_OK, GetRegistrationMethods},
      {"tool interface of the registration class", &kRegistrationClass, &kToolInterface,
       ERR_NO_INTERFACE, nullptr},
      {"registration interface of the settings tool", &kSettingsTool, &kRegistrationInterface,
       ERR_NO_INTERFACE, nullptr},
      {"class factory of the registration class", &kRegistrationClass, &kClassFactory,
       ERR_NO_INTERFACE, nullptr},
      {"class factory of the settings tool", &kSettingsTool, &kClassFactory, ERR_NO_INTERFACE,
       nullptr},
      {"class factory, no class given", nullptr, &kClassFactory, ERR_NO_INTERFACE, nullptr},
      {"unknown class", &kNoSuchClass, &kToolInterface, ERR_NO_INTERFACE, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log_.Clear();
    InterfaceObject* object = kUnwritten;

    EXPECT_EQ(row.status,
              DllGetInterface(owner_.instance(), row.classId, row.interfaceId, &object));
    if (row.methods == nullptr) {
      EXPECT_EQ(kUnwritten, object);
      EXPECT_TRUE(log_.events().empty()) << "allocated or touched the owner";
      continue;
    }
    ASSERT_NE(kUnwritten, object);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(row.methods()->slots, object->methods);
    EXPECT_EQ(owner_.instance(), object->owner);
    EXPECT_EQ(1, object->refCount);
    EXPECT_EQ(Events({"Allocate(12)", "AddRef(owner)", "AddRef(owner)"}), log_.events());
    EXPECT_EQ(0u, CallRelease(object));
  }
}

TEST_F(ClassesAndExports, GetClassObjectAnswersNoClassAlways) {
  const struct {
    const Guid* classId;
    const Guid* interfaceId;
  } rows[] = {
      {&kSettingsTool, &kToolInterface},
      {&kSettingsTool, &kClassFactory},
      {&kRegistrationClass, &kRegistrationInterface},
      {&kNoSuchClass, &kClassFactory},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(GuidText(*row.classId) + " " + GuidText(*row.interfaceId));
    void* out = kUnwritten;
    EXPECT_EQ(ERR_NO_CLASS, DllGetClassObject(row.classId, row.interfaceId, &out));
    EXPECT_EQ(kUnwritten, out);
  }
}

TEST_F(ClassesAndExports, CanUnloadOnlyWhenNoInterfaceLives) {
  ASSERT_EQ(0, LiveObjectCount);
  EXPECT_EQ(STATUS_OK, DllCanUnloadNow());
  InterfaceObject* tool = nullptr;
  InterfaceObject* registration = nullptr;
  ASSERT_EQ(STATUS_OK, DllGetInterface(owner_.instance(), nullptr, &kToolInterface, &tool));
  EXPECT_EQ(ERR_IN_USE, DllCanUnloadNow());
  ASSERT_EQ(STATUS_OK,
            DllGetInterface(owner_.instance(), nullptr, &kRegistrationInterface, &registration));
  CallAddRef(tool);
  CallRelease(tool);
  CallRelease(tool);
  EXPECT_EQ(ERR_IN_USE, DllCanUnloadNow());
  CallRelease(registration);
  EXPECT_EQ(STATUS_OK, DllCanUnloadNow());
}

TEST_F(ClassesAndExports, GuidEqualComparesEveryByte) {
  Guid copy = kSettingsTool;
  EXPECT_EQ(1, GuidEqual(&kSettingsTool, &copy));
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE("byte " + std::to_string(i));
    Guid changed = kSettingsTool;
    reinterpret_cast<uint8_t*>(&changed)[i] ^= 0x01;
    EXPECT_EQ(0, GuidEqual(&kSettingsTool, &changed));
    EXPECT_EQ(0, GuidEqual(&changed, &kSettingsTool));
  }
}

// Records the walk; answers `stopWith` at visit number `stopAt` (1-based).
struct Walk {
  Events visits;
  int stopAt = 0;
  Status stopWith = 0;

  Status Visit(const std::string& what) {
    visits.push_back(what);
    return static_cast<int>(visits.size()) == stopAt ? stopWith : STATUS_OK;
  }
};

Status RecordClass(const Guid* classId, uint32_t version, uint32_t size, InstanceCreateHook create,
                   InstanceDestroyHook destroy, void* userData) {
  int row = GuidEqual(classId, &kSettingsTool) ? 1 : 0;
  bool hooksOfItsRow =
      create == ClassTable[row].createHook && destroy == ClassTable[row].destroyHook;
  return static_cast<Walk*>(userData)->Visit(
      "class " + GuidText(*classId) + " v" + std::to_string(version) + " size " +
      std::to_string(size) + (hooksOfItsRow ? "" : " with other hooks"));
}

Status RecordInterface(const Guid* classId, uint32_t version, const Guid* interfaceId,
                       uint32_t interfaceVersion, InterfaceCreator creator, void* userData) {
  const char* creatorName = creator == CreateRegistrationInterface ? "CreateRegistrationInterface"
                            : creator == CreateToolInterface       ? "CreateToolInterface"
                                                                   : "another creator";
  return static_cast<Walk*>(userData)->Visit(
      "interface " + GuidText(*classId) + " v" + std::to_string(version) + " " +
      GuidText(*interfaceId) + " v" + std::to_string(interfaceVersion) + " " + creatorName);
}

TEST_F(ClassesAndExports, EnumerateClassesWalksInOrderAndStopsAtTheFirstNonZero) {
  const std::string registrationClass = "class ED521726-737B-11CE-8A1D-08000757FC90 v1 size 28";
  const std::string registrationInterface =
      "interface ED521726-737B-11CE-8A1D-08000757FC90 v1 AC3E7803-0002-8FE5-0000-080007160DC3 v1 "
      "CreateRegistrationInterface";
  const std::string toolClass = "class 013C0256-737C-11CE-8A1D-08000757FC90 v1 size 28";
  const std::string toolInterface =
      "interface 013C0256-737C-11CE-8A1D-08000757FC90 v1 ACCFF6D4-0018-10D5-0000-080007FC20C1 v1 "
      "CreateToolInterface";
  const struct {
    const char* name;
    const Guid* filter;
    bool classes;
    bool interfaces;
    int stopAt;
    Status result;
    Events visits;
  } rows[] = {
      {"everything",
       nullptr,
       true,
       true,
       0,
       0,
       {registrationClass, registrationInterface, toolClass, toolInterface}},
      {"class visitor stops at the first class", nullptr, true, true, 1, 5, {registrationClass}},
      {"interface visitor stops at the first interface",
       nullptr,
       true,
       true,
       2,
       9,
       {registrationClass, registrationInterface}},
      {"interfaces only", nullptr, false, true, 0, 0, {registrationInterface, toolInterface}},
      {"filtered to the settings tool",
       &kSettingsTool,
       true,
       true,
       0,
       0,
       {toolClass, toolInterface}},
      {"filter matching nothing", &kNoSuchClass, true, true, 0, 0, {}},
      {"no visitors", nullptr, false, false, 0, 0, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Walk walk;
    walk.stopAt = row.stopAt;
    walk.stopWith = row.result;
    EXPECT_EQ(row.result, EnumerateClasses(row.filter, row.classes ? RecordClass : nullptr,
                                           row.interfaces ? RecordInterface : nullptr, &walk));
    EXPECT_EQ(row.visits, walk.visits);
  }
}

}  // namespace
