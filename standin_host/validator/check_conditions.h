// Checks under conditions real hosts create: other threads, resources kept
// elsewhere, memory running out.
#pragma once

#include "standin_host/records/options.h"

// A worker thread started and ended before every call into the plug-in, so
// the platform tells the DLL of a thread attach and detach between every two
// calls; the road, with OK and changed settings, must still run cleanly.
bool CheckWorkerThreads(const Options& options);
// A resource scope that hands back another module, one without the
// command's name (shipped beside the validator): the registration entry
// still carries the name the plug-in registers with its own module.
bool CheckForeignResourceScope(const Options& options);
// Each allocation request of the road refused in turn, in a fresh load each
// time: the call that asked answers out of memory or succeeds without the
// block, and everything is given back.
bool CheckAllocationRefused(const Options& options);
