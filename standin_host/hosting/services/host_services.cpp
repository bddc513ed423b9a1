#include "standin_host/hosting/services/host_services.h"

#include "standin_host/system/console.h"

void InitHostServices(HostServices* host, HMODULE plugin, const DialogScript* script) {
  host->problemList = ProblemList{0, 0};
  ProblemList* problemList = &host->problemList;
  InitAllocator(&host->allocator, problemList);
  InitDialogRunner(&host->dialogRunner, problemList, script, &host->callback.openCookies, plugin);
  InitCallback(&host->callback, problemList, plugin, &host->dialogRunner);
  InitRegistry(&host->registry, problemList);
  host->instances = InstanceTally{0, 0};
}

HostAllocator* AllocatorInterface(HostServices* host) { return &host->allocator.object.iface; }
HostRegistry* RegistryInterface(HostServices* host) { return &host->registry.object.iface; }

Instance* CreateInstance(HostServices* host, const Guid& classId, uint32_t size,
                         InstanceCreateHook createHook, InstanceDestroyHook destroyHook) {
  return CreateInstance(&host->instances, &host->allocator, &host->callback.object.iface, classId,
                        size, createHook, destroyHook);
}

void ForgetLastRun(HostServices* host) {
  host->registry.entries.clear();
  host->callback.closedCookies.clear();
}

bool Balanced(HostServices* host) {
  ProblemList* problemList = &host->problemList;
  int problemsBefore = problemList->problems;
  const Allocator& allocator = host->allocator;
  if (!allocator.live.empty()) {
    uint32_t bytes = 0;
    for (const Allocator::Block& block : allocator.live) bytes += block.size;
    ReportProblem(problemList,
                  "%u block(s) of %u bytes allocated through the HostAllocator were not freed",
                  static_cast<unsigned>(allocator.live.size()), bytes);
  }
  const Callback& callback = host->callback;
  if (!callback.openCookies.empty()) {
    ReportProblem(problemList,
                  "%u resource scope(s) were opened and not closed (first cookie 0x%08X)",
                  static_cast<unsigned>(callback.openCookies.size()), callback.openCookies[0]);
  }
  struct Held {
    const char* name;
    int32_t references;
  };
  const Held held[] = {{"HostCallback", callback.references},
                       {"HostAllocator", allocator.references},
                       {"HostDialogService", host->dialogRunner.references},
                       {"HostRegistry", host->registry.references}};
  for (const Held& service : held) {
    if (service.references != 0) {
      ReportProblem(problemList, "the plug-in still holds %d reference(s) on the %s",
                    service.references, service.name);
    }
  }
  for (const auto& entry : host->registry.entries) {
    if (entry->references != 0) {
      ReportProblem(problemList, "the plug-in still holds %d reference(s) on a HostDictionary",
                    entry->references);
    }
  }
  return problemList->problems == problemsBefore;
}

void CheckBalance(HostServices* host) {
  Balanced(host);
  const Allocator& allocator = host->allocator;
  const Callback& callback = host->callback;
  if (allocator.failAt != 0) {
    if (allocator.refusedAt != 0) {
      Print("Allocation requests: %u; request %u was refused on purpose\n", allocator.requests,
            allocator.refusedAt);
    } else {
      Print("Allocation requests: %u; request %u was never made, nothing was refused\n",
            allocator.requests, allocator.failAt);
    }
  }
  Print("Balance: %u allocations, %u frees; %u resource scope(s) opened, %u closed\n",
        allocator.allocations, allocator.frees, callback.scopesOpened,
        callback.scopesOpened - static_cast<uint32_t>(callback.openCookies.size()));
}
