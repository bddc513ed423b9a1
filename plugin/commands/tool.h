// The tool interface: the settings command itself.
#pragma once

#include "plugin/module/interface_object.h"

static_assert(kToolSlotCount <= kMaxInterfaceSlots, "the tool table fits a MethodTable");

// Runs the settings dialog and stores the settings when the user confirms.
Status PLUGIN_CALL Invoke(InterfaceObject* self);

// Always answers 1.
Status PLUGIN_CALL GetEnabled(InterfaceObject* self, int32_t* flag);

MethodTable* GetToolMethods();
Status PLUGIN_CALL CreateToolInterface(HostObjectHeader* owner, InterfaceObject** out);
