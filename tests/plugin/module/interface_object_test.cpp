// Interface objects: creation from the owner's allocator, references on the
// owner, destruction order, forwarding of queries, shared method tables.
#include "plugin/commands/registration.h"
#include "plugin/commands/tool.h"
#include "tests/plugin/module/module_fixture.h"

namespace {

using host_doubles::EventLog;

typedef std::vector<std::string> Events;

struct Family {
  const char* name;
  InterfaceCreator create;
  MethodTable* (*methods)();
};
const Family kFamilies[] = {
    {"RegistrationInterface", CreateRegistrationInterface, GetRegistrationMethods},
    {"ToolInterface", CreateToolInterface, GetToolMethods},
};

InterfaceObject* const kUnwritten = reinterpret_cast<InterfaceObject*>(0x0BADF00D);

// Hooks handed to CreateInterfaceObject and ReleaseInterfaceObject by the
// tests; plain function pointers, so what they see goes through here.
struct HookWitness {
  EventLog* log = nullptr;
  std::vector<InterfaceObject*> destroyed;
  int32_t refCountAtDestroy = -1;
  int32_t refCountAtInit = -1;
  int32_t liveAtInit = -1;
  int ownerAddRefsAtInit = -1;
  host_doubles::OwnerInstance* owner = nullptr;
};
HookWitness g_witness;

void PLUGIN_CALL RecordingDestroyHook(InterfaceObject* object) {
  g_witness.log->Add("DestroyHook");
  g_witness.destroyed.push_back(object);
  g_witness.refCountAtDestroy = object->refCount;
}

uint32_t PLUGIN_CALL ReleaseWithRecordingHook(InterfaceObject* object) {
  return ReleaseInterfaceObject(object, RecordingDestroyHook);
}

Status RecordInit(InterfaceObject* object, Status result) {
  g_witness.log->Add("InitHook");
  g_witness.refCountAtInit = object->refCount;
  g_witness.liveAtInit = LiveObjectCount;
  g_witness.ownerAddRefsAtInit = g_witness.owner->addRefs;
  return result;
}
Status PLUGIN_CALL InitSucceeds(InterfaceObject* object) { return RecordInit(object, STATUS_OK); }
Status PLUGIN_CALL InitFailsWithSeven(InterfaceObject* object) { return RecordInit(object, 7); }

class InterfaceObjects : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    g_witness = HookWitness{};
    g_witness.log = &log_;
    g_witness.owner = &owner_;
    testTable_.slots[kSlotQueryInterface] = reinterpret_cast<AnyMethod>(&QueryInterface);
    testTable_.slots[kSlotAddRef] = reinterpret_cast<AnyMethod>(&AddRef);
    testTable_.slots[kSlotRelease] = reinterpret_cast<AnyMethod>(&ReleaseWithRecordingHook);
    testTable_.ready = 1;
  }

  MethodTable testTable_ = {};
};

TEST_F(InterfaceObjects, FreshObjectHoldsOneReferenceAndTwoOnItsOwner) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.name);
    log_.Clear();
    InterfaceObject* object = kUnwritten;

    EXPECT_EQ(STATUS_OK, family.create(owner_.instance(), &object));
    ASSERT_EQ(allocator_.blocks.back(), object);
    EXPECT_EQ(Events({"Allocate(12)", "AddRef(owner)", "AddRef(owner)"}), log_.events());
    EXPECT_EQ(family.methods()->slots, object->methods);
    EXPECT_EQ(owner_.instance(), object->owner);
    EXPECT_EQ(1, object->refCount);
    EXPECT_EQ(liveBefore_ + 1, LiveObjectCount);
    EXPECT_EQ(ERR_IN_USE, DllCanUnloadNow());

    // The last Release through the object's own table gives everything back.
    log_.Clear();
    EXPECT_EQ(0u, CallRelease(object));
    EXPECT_EQ(Events({"Free", "Release(owner)", "Release(owner)"}), log_.events());
    EXPECT_EQ(object, allocator_.freed.back());
    EXPECT_EQ(liveBefore_, LiveObjectCount);
  }
}

TEST_F(InterfaceObjects, AddRefAndReleaseMoveTheCountAndTheOwnersTogether) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.name);
    InterfaceObject* object = nullptr;
    ASSERT_EQ(STATUS_OK, family.create(owner_.instance(), &object));
    log_.Clear();

    EXPECT_EQ(2u, CallAddRef(object));
    EXPECT_EQ(Events({"AddRef(owner)"}), log_.events());
    EXPECT_EQ(1u, CallRelease(object));
    EXPECT_EQ(Events({"AddRef(owner)", "Release(owner)"}), log_.events());
    EXPECT_EQ(1, object->refCount);
    EXPECT_TRUE(allocator_.freed.empty());
    EXPECT_EQ(liveBefore_ + 1, LiveObjectCount);

    EXPECT_EQ(0u, CallRelease(object));
    allocator_.freed.clear();
  }
}

TEST_F(InterfaceObjects, FinalReleaseDestroysThenFreesThenReleasesTheOwnerTwice) {
  Status status = 0xFFFFFFFFu;
  InterfaceObject* object = CreateInterfaceObject(owner_.instance(), sizeof(InterfaceObject),
                                                  InitSucceeds, &testTable_, &status);
  ASSERT_NE(nullptr, object);
  EXPECT_EQ(STATUS_OK, status);
  EXPECT_EQ(Events({"Allocate(12)", "AddRef(owner)", "AddRef(owner)", "InitHook"}), log_.events());
  std::vector<int32_t> liveAtOwnerRelease;
  owner_.onRelease = [&liveAtOwnerRelease] { liveAtOwnerRelease.push_back(LiveObjectCount); };
  log_.Clear();

  EXPECT_EQ(0u, CallRelease(object));
  EXPECT_EQ(Events({"DestroyHook", "Free", "Release(owner)", "Release(owner)"}), log_.events());
  EXPECT_EQ(std::vector<InterfaceObject*>{object}, g_witness.destroyed);
  EXPECT_EQ(0, g_witness.refCountAtDestroy);
  EXPECT_EQ(std::vector<void*>{object}, allocator_.freed);
  // The count is already down when the owner hears of it.
  EXPECT_EQ(std::vector<int32_t>({liveBefore_, liveBefore_}), liveAtOwnerRelease);
}

TEST_F(InterfaceObjects, FailingInitHookLeavesABoundObjectThatOneReleaseUndoes) {
  Status status = STATUS_OK;
  InterfaceObject* object = CreateInterfaceObject(owner_.instance(), sizeof(InterfaceObject),
                                                  InitFailsWithSeven, &testTable_, &status);
  EXPECT_EQ(7u, status);
  ASSERT_EQ(allocator_.blocks.back(), object);
  // The hook runs on a fully bound object.
  EXPECT_EQ(1, g_witness.refCountAtInit);
  EXPECT_EQ(liveBefore_ + 1, g_witness.liveAtInit);
  EXPECT_EQ(2, g_witness.ownerAddRefsAtInit);

  // What the creators do with a non-zero status: release through slot 2.
  EXPECT_EQ(0u, CallRelease(object));
  EXPECT_EQ(Events({"Allocate(12)", "AddRef(owner)", "AddRef(owner)", "InitHook", "DestroyHook",
                    "Free", "Release(owner)", "Release(owner)"}),
            log_.events());
  EXPECT_EQ(1u, g_witness.destroyed.size());
  EXPECT_EQ(std::vector<void*>{object}, allocator_.freed);
  EXPECT_EQ(liveBefore_, LiveObjectCount);
}

TEST_F(InterfaceObjects, FailedAllocationTouchesNothingButFillsTheTable) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.name);
    // Back to the state at load, so the fill by this creation shows.
    MethodTable* table = family.methods();
    const MethodTable filled = *table;
    memset(table, 0, sizeof *table);
    log_.Clear();
    allocator_.sizes.clear();
    allocator_.failAllocation = 1;
    Status canUnload = DllCanUnloadNow();
    InterfaceObject* object = kUnwritten;

    EXPECT_EQ(ERR_OUT_OF_MEMORY, family.create(owner_.instance(), &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(Events({"Allocate(12)"}), log_.events());
    EXPECT_EQ(0, owner_.addRefs);
    EXPECT_EQ(liveBefore_, LiveObjectCount);
    EXPECT_EQ(canUnload, DllCanUnloadNow());
    EXPECT_EQ(0, memcmp(&filled, table, sizeof filled)) << "method table not filled";
  }
}

TEST_F(InterfaceObjects, QueryInterfaceAnswersExactlyWhatTheOwnerAnswers) {
  int service = 0;
  const struct {
    const char* name;
    Status status;
    void* result;
  } rows[] = {
      {"found", STATUS_OK, &service},
      {"not found, null", 0x80004002u, nullptr},
      {"failure with a value", 0x8000FFFFu, &service},
  };
  const Guid id = host_doubles::ParseGuid("12345678-9ABC-DEF0-1234-56789ABCDEF0");
  for (const Family& family : kFamilies) {
    InterfaceObject* object = nullptr;
    ASSERT_EQ(STATUS_OK, family.create(owner_.instance(), &object));
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(family.name) + ", " + row.name);
      log_.Clear();
      owner_.queryStatus = row.status;
      owner_.queryResult = row.result;
      void* out = kUnwritten;

      EXPECT_EQ(row.status,
                MethodAt<QueryInterfaceFn>(object, kSlotQueryInterface)(object, &id, &out));
      EXPECT_EQ(row.result, out);
      EXPECT_EQ(&id, owner_.lastQueryId);
      EXPECT_EQ(&out, owner_.lastQueryOut);
      EXPECT_EQ(Events({"QueryInterface(owner)"}), log_.events());
      EXPECT_EQ(1, object->refCount);
    }
    CallRelease(object);
  }
}

TEST_F(InterfaceObjects, ObjectsOfOneInterfaceShareOneTable) {
  host_doubles::OwnerInstance other(&log_, &callback_, &allocator_, "other");
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.name);
    InterfaceObject* first = nullptr;
    InterfaceObject* second = nullptr;
    InterfaceObject* elsewhere = nullptr;
    ASSERT_EQ(STATUS_OK, family.create(owner_.instance(), &first));
    ASSERT_EQ(STATUS_OK, family.create(owner_.instance(), &second));
    ASSERT_EQ(STATUS_OK, family.create(other.instance(), &elsewhere));
    EXPECT_EQ(first->methods, second->methods);
    EXPECT_EQ(first->methods, elsewhere->methods);
    EXPECT_EQ(liveBefore_ + 3, LiveObjectCount);

    CallAddRef(first);
    EXPECT_EQ(0u, CallRelease(second));
    EXPECT_EQ(2, first->refCount);
    EXPECT_EQ(1, elsewhere->refCount);
    EXPECT_EQ(liveBefore_ + 2, LiveObjectCount);
    EXPECT_EQ(3, owner_.addRefs - owner_.releases);
    EXPECT_EQ(2, other.addRefs - other.releases);

    CallRelease(first);
    CallRelease(first);
    CallRelease(elsewhere);
  }
  EXPECT_EQ(other.addRefs, other.releases);
}

TEST_F(InterfaceObjects, TablesHoldTheMethodsInSlotOrder) {
  auto slot = [](auto fn) { return reinterpret_cast<AnyMethod>(fn); };
  MethodTable* registration = GetRegistrationMethods();
  EXPECT_EQ(slot(&QueryInterface), registration->slots[0]);
  EXPECT_EQ(slot(&AddRef), registration->slots[1]);
  EXPECT_EQ(slot(&Register), registration->slots[3]);

  MethodTable* tool = GetToolMethods();
  EXPECT_EQ(slot(&QueryInterface), tool->slots[0]);
  EXPECT_EQ(slot(&AddRef), tool->slots[1]);
  EXPECT_EQ(slot(&Invoke), tool->slots[3]);
  EXPECT_EQ(slot(&GetEnabled), tool->slots[4]);

  // Each interface's Release runs its own destroy hook.
  for (MethodTable* table : {registration, tool}) {
    EXPECT_NE(nullptr, table->slots[2]);
    EXPECT_NE(slot(&AddRef), table->slots[2]);
    EXPECT_NE(slot(&QueryInterface), table->slots[2]);
  }
  EXPECT_NE(registration->slots[2], tool->slots[2]);
  EXPECT_EQ(registration, GetRegistrationMethods());
  EXPECT_EQ(tool, GetToolMethods());
}

}  // namespace
