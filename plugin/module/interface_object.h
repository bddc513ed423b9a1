// Reference-counted interface objects handed to the host. Each is one block
// from the owner's allocator and holds references on its owner while it lives.
// Nothing here knows which interfaces are built on it.
#pragma once

#include "host/plugin_interfaces.h"

struct InterfaceObject {
  const AnyMethod* methods;
  HostObjectHeader* owner;
  int32_t refCount;
};
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(InterfaceObject) == 12, "three 32-bit words on i686");
static_assert(offsetof(InterfaceObject, owner) == 4, "owner is word 1");
static_assert(offsetof(InterfaceObject, refCount) == 8, "refCount is word 2");
#endif

// Room for the longest interface the module offers.
constexpr int kMaxInterfaceSlots = 5;

// Slots first, so a pointer to the table is a pointer to slot 0. Each
// interface fills its own on first request; the ready flag is zero at load.
struct MethodTable {
  AnyMethod slots[kMaxInterfaceSlots];
  uint8_t ready;
};

typedef Status(PLUGIN_CALL* ObjectInitHook)(InterfaceObject* object);
typedef void(PLUGIN_CALL* ObjectDestroyHook)(InterfaceObject* object);
typedef Status(PLUGIN_CALL* InterfaceCreator)(HostObjectHeader* owner, InterfaceObject** out);

extern int32_t LiveObjectCount;

template <typename Fn>
inline AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

InterfaceObject* CreateInterfaceObject(HostObjectHeader* owner, uint32_t size,
                                       ObjectInitHook initHook, MethodTable* table, Status* status);
// The body every InterfaceCreator shares: creates the object and, when its
// init hook refuses, undoes the creation through the object's own Release.
// Always writes `out`.
Status CreateBoundInterface(HostObjectHeader* owner, InterfaceObject** out, MethodTable* table,
                            ObjectInitHook initHook);

Status PLUGIN_CALL QueryInterface(InterfaceObject* object, const Guid* iid, void** out);
uint32_t PLUGIN_CALL AddRef(InterfaceObject* object);
// The shared body of each interface's Release, parameterised by its hook.
uint32_t ReleaseInterfaceObject(InterfaceObject* object, ObjectDestroyHook destroyHook);
