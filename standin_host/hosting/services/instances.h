// Class instances as the host makes them: a block from the host's allocator
// that begins with the HostObjectHeader, with the host's own reference and a
// count of every AddRef and Release the plug-in makes on it.
#pragma once

#include "host/plugin_interfaces.h"
#include "standin_host/hosting/services/allocator.h"

// The class instances alive and the references held on them, host and
// plug-in together.
struct InstanceTally {
  int32_t live;
  int32_t references;
};

// A class instance: its host-side state and the block the module sees, which
// begins with the HostObjectHeader.
struct Instance {
  struct Block {
    Instance* instance;
    HostObjectHeader header;  // the module's view starts here
  };
  ProblemList* problemList;
  Allocator* allocator;
  InstanceTally* tally;
  Guid classId;
  uint32_t size;
  InstanceDestroyHook destroyHook;
  Block* block;
  int32_t references;
  uint32_t addRefs;
  uint32_t releases;
};

// Allocates an instance of `size` bytes holding one reference (the host's),
// fills its header and runs the class's create hook. Null when the block is
// too small for the header or the hook fails (a problem), or when its
// allocation was the one refused on purpose (a failure the host caused).
Instance* CreateInstance(InstanceTally* tally, Allocator* allocator, HostCallback* callback,
                         const Guid& classId, uint32_t size, InstanceCreateHook createHook,
                         InstanceDestroyHook destroyHook);
HostObjectHeader* InstanceHeader(Instance* instance);
// Drops the host's reference, reports any reference left over, runs the
// destroy hook and frees the block.
void DestroyInstance(Instance* instance);
