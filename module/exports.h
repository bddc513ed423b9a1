// The five functions the host finds by name in the module.
#pragma once

#include "module/class_table.h"

extern "C" {
Status PLUGIN_CALL DllCanUnloadNow();
Status PLUGIN_CALL DllGetClassForm(const Guid* classId, uint32_t* instanceSize,
                                   InstanceCreateHook* createHook,
                                   InstanceDestroyHook* destroyHook);
Status PLUGIN_CALL DllGetClassInfo(HostAllocator* allocator, ClassInfoRecord** table);
Status PLUGIN_CALL DllGetClassObject(const Guid* classId, const Guid* interfaceId, void** out);
Status PLUGIN_CALL DllGetInterface(HostObjectHeader* instance, const Guid* classId,
                                   const Guid* interfaceId, InterfaceObject** out);
}

typedef Status(PLUGIN_CALL* DllCanUnloadNowFn)();
typedef Status(PLUGIN_CALL* DllGetClassFormFn)(const Guid*, uint32_t*, InstanceCreateHook*,
                                               InstanceDestroyHook*);
typedef Status(PLUGIN_CALL* DllGetClassInfoFn)(HostAllocator*, ClassInfoRecord**);
typedef Status(PLUGIN_CALL* DllGetClassObjectFn)(const Guid*, const Guid*, void**);
typedef Status(PLUGIN_CALL* DllGetInterfaceFn)(HostObjectHeader*, const Guid*, const Guid*,
                                               InterfaceObject**);
