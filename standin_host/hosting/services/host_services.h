// hosting/services/: the services the host offers a plug-in, one file each.
//
// The services the host offers a plug-in, laid out as the module expects:
// each object handed over starts with its method table, slots in the order
// of host/host_interfaces.h. Behind each object is the host's own state,
// which counts everything the plug-in does so that imbalances show. One file
// per service; this one holds them together and judges the balance.
#pragma once

#include <windows.h>

#include "standin_host/hosting/services/allocator.h"
#include "standin_host/hosting/services/callback.h"
#include "standin_host/hosting/services/dialog_service.h"
#include "standin_host/hosting/services/instances.h"
#include "standin_host/hosting/services/registry.h"
#include "standin_host/records/dialog_script.h"
#include "standin_host/records/problem_list.h"

struct HostServices {
  ProblemList problemList;
  Allocator allocator;
  Callback callback;
  DialogRunner dialogRunner;
  Registry registry;
  InstanceTally instances;
};

void InitHostServices(HostServices* host, HMODULE plugin, const DialogScript* script);

HostAllocator* AllocatorInterface(HostServices* host);
HostRegistry* RegistryInterface(HostServices* host);
// An instance of the class made with the host's allocator and callback.
Instance* CreateInstance(HostServices* host, const Guid& classId, uint32_t size,
                         InstanceCreateHook createHook, InstanceDestroyHook destroyHook);

// Reports what the plug-in left behind: blocks not freed, resource scopes
// still open, references still held on the host's services.
void CheckBalance(HostServices* host);
// The same checks without the printed summary, for repeated runs; false when
// something was left behind.
bool Balanced(HostServices* host);
// Forgets what the last run left in the host's records (registration
// entries, closed scope cookies), as a host does when it unloads a plug-in, so
// repeated runs start from nothing. Counters keep counting.
void ForgetLastRun(HostServices* host);
