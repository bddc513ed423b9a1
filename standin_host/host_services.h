// The services the host offers a plug-in, laid out as the module expects:
// each object handed over starts with its method table, slots in the order
// of host/host_interfaces.h. Behind each object is the host's own state,
// which counts everything the plug-in does so that imbalances show.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_interfaces.h"
#include "module/class_table.h"
#include "standin_host/dialog_script.h"
#include "standin_host/ledger.h"

// Statuses the host's services answer when they refuse a request.
constexpr Status kHostNoInterface = 0x80004002u;
constexpr Status kHostInvalidArgument = 0x80070057u;

// The object the module sees, and the host state behind it. Standard layout,
// so a pointer to `iface` is a pointer to the whole.
template <typename Interface, typename State>
struct ServiceObject {
  Interface iface;
  State* state;
};

struct Allocator {
  struct Block {
    void* address;
    uint32_t size;
  };
  ServiceObject<HostAllocator, Allocator> object;
  Ledger* ledger;
  std::vector<Block> live;
  uint32_t requests;  // every request, the refused one included
  uint32_t allocations;
  uint32_t frees;
  int32_t references;
  uint32_t failAt;     // the request to refuse (--fail-allocation), 0 for none
  uint32_t refusedAt;  // the request that was refused, 0 while none was
  const char* phase;   // what the host is doing, for the report
};

struct Callback;

struct DialogRunner {
  ServiceObject<HostDialogService, DialogRunner> object;
  Ledger* ledger;
  const DialogScript* script;
  const Callback* scopes;  // a dialog runs inside an open resource scope
  int32_t references;
  INT_PTR lastResult;
  // Repeated runs: no script, the dialog is cancelled as soon as its
  // WM_INITDIALOG has returned, and nothing is printed.
  bool cancelWhenReady;
};

struct Callback {
  ServiceObject<HostCallback, Callback> object;
  Ledger* ledger;
  HMODULE plugin;
  DialogRunner* dialogRunner;
  int32_t references;
  std::vector<uint32_t> openCookies;
  std::vector<uint32_t> closedCookies;
  uint32_t nextCookie;
  uint32_t scopesOpened;
};

struct RegistryEntry {
  struct Value {
    std::string key;
    uint32_t type;
    std::string text;  // type 9: the bytes as given, ANSI code page
    int32_t number;    // type 3
  };
  ServiceObject<HostDictionary, RegistryEntry> dictionary;
  Ledger* ledger;
  uint32_t value;
  Guid classId;
  Guid interfaceId;
  std::vector<Value> values;
  int32_t references;
};

struct Registry {
  ServiceObject<HostRegistry, Registry> object;
  Ledger* ledger;
  uint32_t expectedValue;  // the value the host passes to Register
  int32_t references;
  std::vector<std::unique_ptr<RegistryEntry>> entries;
};

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
  Ledger* ledger;
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

struct HostServices {
  Ledger ledger;
  Allocator allocator;
  Callback callback;
  DialogRunner dialogRunner;
  Registry registry;
  InstanceTally instances;
};

void InitHostServices(HostServices* host, HMODULE plugin, const DialogScript* script);

HostAllocator* AllocatorInterface(HostServices* host);
HostRegistry* RegistryInterface(HostServices* host);
// The size of a live block from the allocator, 0 for any other address.
uint32_t BlockSize(const Allocator* allocator, const void* block);
// Null for the request that --fail-allocation names, as when memory runs out.
void* AllocateBlock(Allocator* allocator, uint32_t size);
void FreeBlock(Allocator* allocator, void* block);

// Allocates an instance of `size` bytes holding one reference (the host's),
// fills its header and runs the class's create hook. Null when the block is
// too small for the header or the hook fails (a problem), or when its
// allocation was the one refused on purpose (a failure the host caused).
Instance* CreateInstance(HostServices* host, const Guid& classId, uint32_t size,
                         InstanceCreateHook createHook, InstanceDestroyHook destroyHook);
HostObjectHeader* InstanceHeader(Instance* instance);
// Drops the host's reference, reports any reference left over, runs the
// destroy hook and frees the block.
void DestroyInstance(Instance* instance);

// True when the allocation refused on purpose happened after `requestsBefore`
// requests, i.e. during the call that began then.
bool RefusedSince(const Allocator* allocator, uint32_t requestsBefore);

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

std::string FormatGuid(const Guid& guid);
bool SameGuid(const Guid& a, const Guid& b);
