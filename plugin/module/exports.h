// The five functions the host finds by name in the module.
#pragma once

#include "plugin/module/class_table.h"

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
