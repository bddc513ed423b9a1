// The methods of the registration and tool interfaces.
#pragma once

#include "module/interface_object.h"

// Publishes the settings tool's registration entry.
Status PLUGIN_CALL Register(InterfaceObject* self, HostRegistry* registry, uint32_t entryValue);

// Runs the settings dialog and stores the settings when the user confirms.
Status PLUGIN_CALL Invoke(InterfaceObject* self);

// Always answers 1.
Status PLUGIN_CALL GetEnabled(InterfaceObject* self, int32_t* flag);
