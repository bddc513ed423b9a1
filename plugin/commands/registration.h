// The registration interface: publishes the settings tool's entry.
#pragma once

#include "plugin/module/interface_object.h"

Status PLUGIN_CALL Register(InterfaceObject* self, HostRegistry* registry, uint32_t entryValue);

MethodTable* GetRegistrationMethods();
Status PLUGIN_CALL CreateRegistrationInterface(HostObjectHeader* owner, InterfaceObject** out);
