// Reference-counted interface objects handed to the host. Each is one block
// from the owner's allocator and holds references on its owner while it lives.
#pragma once

#include "host/host_interfaces.h"

struct InterfaceObject {
  const AnyMethod* methods;
  HostObjectHeader* owner;
  int32_t refCount;
};
#if defined(__i386__)
static_assert(sizeof(InterfaceObject) == 12, "three 32-bit words on i686");
static_assert(offsetof(InterfaceObject, owner) == 4, "owner is word 1");
static_assert(offsetof(InterfaceObject, refCount) == 8, "refCount is word 2");
#endif

enum RegistrationSlot : int {
  kRegistrationQueryInterface = kSlotQueryInterface,
  kRegistrationAddRef = kSlotAddRef,
  kRegistrationRelease = kSlotRelease,
  kRegistrationRegister = 3,
  kRegistrationSlotCount = 4
};

enum ToolSlot : int {
  kToolQueryInterface = kSlotQueryInterface,
  kToolAddRef = kSlotAddRef,
  kToolRelease = kSlotRelease,
  kToolInvoke = 3,
  kToolGetEnabled = 4,
  kToolSlotCount = 5
};

// Slots first, so a pointer to the table is a pointer to slot 0. Filled on
// first request; the ready flag is zero at load.
struct MethodTable {
  AnyMethod slots[kToolSlotCount];
  uint8_t ready;
};

typedef Status(PLUGIN_CALL* ObjectInitHook)(InterfaceObject* object);
typedef void(PLUGIN_CALL* ObjectDestroyHook)(InterfaceObject* object);
typedef Status(PLUGIN_CALL* InterfaceCreator)(HostObjectHeader* owner, InterfaceObject** out);

extern int32_t LiveObjectCount;

InterfaceObject* CreateInterfaceObject(HostObjectHeader* owner, uint32_t size,
                                       ObjectInitHook initHook, MethodTable* table, Status* status);
Status PLUGIN_CALL CreateRegistrationInterface(HostObjectHeader* owner, InterfaceObject** out);
Status PLUGIN_CALL CreateToolInterface(HostObjectHeader* owner, InterfaceObject** out);
MethodTable* GetRegistrationMethods();
MethodTable* GetToolMethods();

Status PLUGIN_CALL QueryInterface(InterfaceObject* object, const Guid* iid, void** out);
uint32_t PLUGIN_CALL AddRef(InterfaceObject* object);
// The shared body of each interface's Release, parameterised by its hook.
uint32_t ReleaseInterfaceObject(InterfaceObject* object, ObjectDestroyHook destroyHook);
