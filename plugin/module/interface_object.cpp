#include "plugin/module/interface_object.h"

int32_t LiveObjectCount = 0;

namespace {

void OwnerAddRef(HostObjectHeader* owner) { MethodAt<AddRefFn>(owner, kSlotAddRef)(owner); }
void OwnerRelease(HostObjectHeader* owner) { MethodAt<ReleaseFn>(owner, kSlotRelease)(owner); }

}  // namespace

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

Status CreateBoundInterface(HostObjectHeader* owner, InterfaceObject** out, MethodTable* table,
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
