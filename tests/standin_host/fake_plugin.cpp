// A plug-in that breaks the host's rules on request, so the stand-in host's
// checks can be seen to fire. One class offers both host interfaces; the
// environment variable FAKE_PLUGIN_FAULT names the one fault to commit.
#include <windows.h>

#include "host/plugin_interfaces.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr Guid kFakeClass = {
    0x5EED0001, 0x0002, 0x0003, {0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B}};

struct FakeObject {
  const AnyMethod* methods;
  HostObjectHeader* owner;
  int32_t references;
};

int32_t g_liveObjects = 0;

bool Same(const Guid* a, const Guid* b) {
  const uint8_t* left = reinterpret_cast<const uint8_t*>(a);
  const uint8_t* right = reinterpret_cast<const uint8_t*>(b);
  for (int i = 0; i < 16; ++i) {
    if (left[i] != right[i]) return false;
  }
  return true;
}

bool Fault(const char* name) {
  char value[64];
  DWORD length = GetEnvironmentVariableA("FAKE_PLUGIN_FAULT", value, sizeof value);
  return length > 0 && length < sizeof value && lstrcmpA(value, name) == 0;
}

void* ModuleHandle() { return &__ImageBase; }

// Like code built to keep doubles in its blocks, this plug-in counts on the
// 8-byte alignment the platform's heap gives: a block without it is given
// back and the call fails as if memory had run out.
void* Allocate(HostAllocator* allocator, uint32_t size) {
  void* block = MethodAt<AllocateFn>(allocator, kAllocatorAllocate)(allocator, size);
  if (reinterpret_cast<uintptr_t>(block) % 8 == 0) return block;
  MethodAt<FreeFn>(allocator, kAllocatorFree)(allocator, block);
  return nullptr;
}
void* Allocate(HostObjectHeader* owner, uint32_t size) { return Allocate(owner->allocator, size); }
uint32_t OwnerAddRef(HostObjectHeader* owner) {
  return MethodAt<AddRefFn>(owner, kSlotAddRef)(owner);
}
uint32_t OwnerRelease(HostObjectHeader* owner) {
  return MethodAt<ReleaseFn>(owner, kSlotRelease)(owner);
}

Status PLUGIN_CALL QueryInterface(FakeObject* self, const Guid* iid, void** out) {
  return MethodAt<QueryInterfaceFn>(self->owner, kSlotQueryInterface)(self->owner, iid, out);
}

uint32_t PLUGIN_CALL AddRef(FakeObject* self) {
  OwnerAddRef(self->owner);
  return static_cast<uint32_t>(++self->references);
}

uint32_t PLUGIN_CALL Release(FakeObject* self) {
  HostObjectHeader* owner = self->owner;
  int32_t references = --self->references;
  if (references == 0 && !Fault("object-not-freed")) {
    MethodAt<FreeFn>(owner->allocator, kAllocatorFree)(owner->allocator, self);
    --g_liveObjects;
  }
  OwnerRelease(owner);
  return static_cast<uint32_t>(references);
}

Status PLUGIN_CALL Register(FakeObject* self, HostRegistry* registry, uint32_t entryValue) {
  if (Fault("block-not-freed")) Allocate(self->owner, 16);
  HostDictionary* dictionary = nullptr;
  Status status = MethodAt<AddEntryFn>(registry, kRegistryAddEntry)(
      registry, entryValue, &kFakeClass, &IID_ToolInterface, &dictionary);
  if (status != STATUS_OK) return status;
  PutValueFn putValue = MethodAt<PutValueFn>(dictionary, kDictionaryPutValue);
  putValue(dictionary, kValueAnsiText, "Fake tool", 0, "displayNameString");
  const int32_t one = 1;
  return putValue(dictionary, kValueInt32, &one, 0, "alwaysEnabled");
}

Status PLUGIN_CALL Invoke(FakeObject* self) {
  HostCallback* callback = self->owner->callback;
  uint32_t cookie = 0;
  MethodAt<OpenResourceScopeFn>(callback, kCallbackOpenResourceScope)(callback, ModuleHandle(),
                                                                      &cookie);
  if (Fault("scope-left-open")) return STATUS_OK;
  CloseResourceScopeFn close =
      MethodAt<CloseResourceScopeFn>(callback, kCallbackCloseResourceScope);
  close(callback, ModuleHandle(), Fault("wrong-cookie") ? cookie + 1 : cookie);
  if (Fault("scope-closed-twice")) close(callback, ModuleHandle(), cookie);
  if (Fault("reference-kept")) OwnerAddRef(self->owner);
  // A platform error with no dialog confirmed: nothing the host caused.
  return Fault("invoke-fails") ? 0x80070005u : STATUS_OK;
}

Status PLUGIN_CALL GetEnabled(FakeObject*, int32_t* flag) {
  *flag = 1;
  return STATUS_OK;
}

template <typename Fn>
AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

const AnyMethod kRegistrationMethods[] = {Slot(QueryInterface), Slot(AddRef), Slot(Release),
                                          Slot(Register)};
const AnyMethod kToolMethods[] = {Slot(QueryInterface), Slot(AddRef), Slot(Release), Slot(Invoke),
                                  Slot(GetEnabled)};

Status PLUGIN_CALL CreateHook(void*) { return STATUS_OK; }
void PLUGIN_CALL DestroyHook(void*) {}

}  // namespace

extern "C" Status PLUGIN_CALL DllCanUnloadNow() {
  if (Fault("in-use")) return ERR_IN_USE;
  return g_liveObjects == 0 ? STATUS_OK : ERR_IN_USE;
}

extern "C" Status PLUGIN_CALL DllGetClassForm(const Guid* classId, uint32_t* instanceSize,
                                              InstanceCreateHook* createHook,
                                              InstanceDestroyHook* destroyHook) {
  if (!Same(classId, &kFakeClass)) return ERR_NO_CLASS;
  *instanceSize = 28;
  *createHook = CreateHook;
  *destroyHook = DestroyHook;
  return STATUS_OK;
}

extern "C" Status PLUGIN_CALL DllGetClassInfo(HostAllocator* allocator, ClassInfoRecord** table) {
  ClassInfoRecord* records =
      static_cast<ClassInfoRecord*>(Allocate(allocator, 4 * sizeof(ClassInfoRecord)));
  *table = records;
  if (records == nullptr) return ERR_OUT_OF_MEMORY;
  records[0] = ClassInfoRecord{kFakeClass, 1, IID_IClassFactory, 1};
  records[1] = ClassInfoRecord{kFakeClass, 1, IID_RegistrationInterface, 1};
  records[2] = ClassInfoRecord{kFakeClass, 1, IID_ToolInterface, 1};
  records[3] = ClassInfoRecord{};
  return STATUS_OK;
}

extern "C" Status PLUGIN_CALL DllGetClassObject(const Guid*, const Guid*, void**) {
  return ERR_NO_CLASS;
}

extern "C" Status PLUGIN_CALL DllGetInterface(HostObjectHeader* instance, const Guid* classId,
                                              const Guid* interfaceId, InterfaceObject** out) {
  const AnyMethod* methods = nullptr;
  if (Same(interfaceId, &IID_RegistrationInterface)) methods = kRegistrationMethods;
  if (Same(interfaceId, &IID_ToolInterface)) methods = kToolMethods;
  if (!Same(classId, &kFakeClass) || methods == nullptr) return ERR_NO_INTERFACE;
  FakeObject* object = static_cast<FakeObject*>(Allocate(instance, sizeof(FakeObject)));
  if (object == nullptr) return Fault("oom-as-no-interface") ? ERR_NO_INTERFACE : ERR_OUT_OF_MEMORY;
  *object = FakeObject{methods, instance, 1};
  OwnerAddRef(instance);
  ++g_liveObjects;
  *out = reinterpret_cast<InterfaceObject*>(object);
  return STATUS_OK;
}
