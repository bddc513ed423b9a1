#include "module/interface_object.h"

#include "commands/commands.h"

int32_t LiveObjectCount = 0;

namespace {

MethodTable g_registrationMethods;
MethodTable g_toolMethods;

Status PLUGIN_CALL RegistrationInitHook(InterfaceObject*) { return STATUS_OK; }
void PLUGIN_CALL RegistrationDestroyHook(InterfaceObject*) {}
Status PLUGIN_CALL ToolInitHook(InterfaceObject*) { return STATUS_OK; }
void PLUGIN_CALL ToolDestroyHook(InterfaceObject*) {}

uint32_t PLUGIN_CALL ReleaseRegistration(InterfaceObject* object) {
  return ReleaseInterfaceObject(object, RegistrationDestroyHook);
}
uint32_t PLUGIN_CALL ReleaseTool(InterfaceObject* object) {
  return ReleaseInterfaceObject(object, ToolDestroyHook);
}

template <typename Fn>
AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

void OwnerAddRef(HostObjectHeader* owner) { MethodAt<AddRefFn>(owner, kSlotAddRef)(owner); }
void OwnerRelease(HostObjectHeader* owner) { MethodAt<ReleaseFn>(owner, kSlotRelease)(owner); }

Status CreateWith(HostObjectHeader* owner, InterfaceObject** out, MethodTable* table,
                  ObjectInitHook initHook) {
  Status status = STATUS_OK;
  InterfaceObject* object =
      CreateInterfaceObject(owner, sizeof(InterfaceObject), initHook, table, &status);
  if (object == nullptr) {
    status = ERR_OUT_OF_MEMORY;
  } else if (status != STATUS_OK) {
    // Release through the object's own table undoes the creation entirely.
    MethodAt<ReleaseFn>(object, kSlotRelease)(object);
    object = nullptr;
  }
  *out = object;
  return status;
}

}  // namespace

MethodTable* GetRegistrationMethods() {
  if (g_registrationMethods.ready != 0) return &g_registrationMethods;
  g_registrationMethods.ready = 1;
  g_registrationMethods.slots[kRegistrationQueryInterface] = Slot(QueryInterface);
  g_registrationMethods.slots[kRegistrationAddRef] = Slot(AddRef);
  g_registrationMethods.slots[kRegistrationRelease] = Slot(ReleaseRegistration);
  g_registrationMethods.slots[kRegistrationRegister] = Slot(Register);
  return &g_registrationMethods;
}

MethodTable* GetToolMethods() {
  if (g_toolMethods.ready != 0) return &g_toolMethods;
  g_toolMethods.ready = 1;
  g_toolMethods.slots[kToolQueryInterface] = Slot(QueryInterface);
  g_toolMethods.slots[kToolAddRef] = Slot(AddRef);
  g_toolMethods.slots[kToolRelease] = Slot(ReleaseTool);
  g_toolMethods.slots[kToolInvoke] = Slot(Invoke);
  g_toolMethods.slots[kToolGetEnabled] = Slot(GetEnabled);
  return &g_toolMethods;
}

InterfaceObject* CreateInterfaceObject(HostObjectHeader* owner, uint32_t size,
                                       ObjectInitHook initHook, MethodTable* table,
                                       Status* status) {
  HostAllocator* allocator = owner->allocator;
  void* block = MethodAt<AllocateFn>(allocator, kAllocatorAllocate)(allocator, size);
  if (block == nullptr) {
    *status = ERR_OUT_OF_MEMORY;
    return nullptr;
  }
  InterfaceObject* object = static_cast<InterfaceObject*>(block);
  object->methods = table->slots;
  object->owner = owner;
  object->refCount = 1;
  OwnerAddRef(owner);
  OwnerAddRef(owner);
  ++LiveObjectCount;
  *status = initHook(object);
  return object;
}

Status PLUGIN_CALL CreateRegistrationInterface(HostObjectHeader* owner, InterfaceObject** out) {
  // The table is fetched before allocating, so it is filled even when
  // allocation fails.
  MethodTable* table = GetRegistrationMethods();
  return CreateWith(owner, out, table, RegistrationInitHook);
}

Status PLUGIN_CALL CreateToolInterface(HostObjectHeader* owner, InterfaceObject** out) {
  MethodTable* table = GetToolMethods();
  return CreateWith(owner, out, table, ToolInitHook);
}

Status PLUGIN_CALL QueryInterface(InterfaceObject* object, const Guid* iid, void** out) {
  HostObjectHeader* owner = object->owner;
  return MethodAt<QueryInterfaceFn>(owner, kSlotQueryInterface)(owner, iid, out);
}

uint32_t PLUGIN_CALL AddRef(InterfaceObject* object) {
  OwnerAddRef(object->owner);
  return static_cast<uint32_t>(++object->refCount);
}

uint32_t ReleaseInterfaceObject(InterfaceObject* object, ObjectDestroyHook destroyHook) {
  HostObjectHeader* owner = object->owner;
  int32_t count = --object->refCount;
  if (count == 0) {
    destroyHook(object);
    HostAllocator* allocator = owner->allocator;
    MethodAt<FreeFn>(allocator, kAllocatorFree)(allocator, object);
    // The object's memory is gone from here on.
    --LiveObjectCount;
    OwnerRelease(owner);
  }
  OwnerRelease(owner);
  return static_cast<uint32_t>(count);
}
