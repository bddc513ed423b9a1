#include "standin_host/host_services.h"

#include <stdio.h>
#include <string.h>

#include <array>
#include <utility>

#include "module/identifiers.h"
#include "standin_host/console.h"
#include "standin_host/dialog_driver.h"
#include "standin_host/dialog_timing.h"

namespace {

// Which host object a method table belongs to, for messages.
enum ServiceKind : int {
  kInstanceKind,
  kCallbackKind,
  kAllocatorKind,
  kRegistryKind,
  kDictionaryKind,
  kDialogKind
};
const char* const kServiceNames[] = {"class instance", "HostCallback",   "HostAllocator",
                                     "HostRegistry",   "HostDictionary", "HostDialogService"};

// A slot this host does not offer has no known arguments, so no call to it
// can return safely under __stdcall: the run stops there.
[[noreturn]] void StopOnUnexpectedSlot(int kind, int slot) {
  PrintError("PROBLEM: the plug-in called slot %d of the %s, which this host does not offer\n",
             slot, kServiceNames[kind]);
  ExitProcess(1);
}

template <int Kind, int Slot>
void PLUGIN_CALL UnexpectedSlot() {
  StopOnUnexpectedSlot(Kind, Slot);
}

template <int Kind, size_t... Slots>
std::array<AnyMethod, sizeof...(Slots)> UnexpectedTable(std::index_sequence<Slots...>) {
  return {{&UnexpectedSlot<Kind, static_cast<int>(Slots)>...}};
}

template <typename Fn>
AnyMethod Slot(Fn fn) {
  return reinterpret_cast<AnyMethod>(fn);
}

template <typename State, typename Interface>
State* StateOf(Interface* iface) {
  return reinterpret_cast<ServiceObject<Interface, State>*>(iface)->state;
}

Status NoInterface(void** out) {
  *out = nullptr;
  return kHostNoInterface;
}

uint32_t CountRelease(int32_t* references, Ledger* ledger, const char* what) {
  if (--*references < 0)
    ReportProblem(ledger, "the %s was released more often than referenced", what);
  return static_cast<uint32_t>(*references);
}

// HostAllocator

Status PLUGIN_CALL AllocatorQueryInterface(HostAllocator*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL AllocatorAddRef(HostAllocator* self) {
  return static_cast<uint32_t>(++StateOf<Allocator>(self)->references);
}
uint32_t PLUGIN_CALL AllocatorRelease(HostAllocator* self) {
  Allocator* allocator = StateOf<Allocator>(self);
  return CountRelease(&allocator->references, allocator->ledger, "HostAllocator");
}
void* PLUGIN_CALL Allocate(HostAllocator* self, uint32_t size) {
  return AllocateBlock(StateOf<Allocator>(self), size);
}
Status PLUGIN_CALL Free(HostAllocator* self, void* block) {
  Allocator* allocator = StateOf<Allocator>(self);
  if (BlockSize(allocator, block) == 0) {
    ReportProblem(allocator->ledger,
                  "Free was given %p, which is no live block of this allocator (freed twice?)",
                  block);
    return kHostInvalidArgument;
  }
  FreeBlock(allocator, block);
  return STATUS_OK;
}

const AnyMethod* AllocatorMethods() {
  static const std::array<AnyMethod, kAllocatorFree + 1> table = [] {
    auto slots = UnexpectedTable<kAllocatorKind>(std::make_index_sequence<kAllocatorFree + 1>());
    slots[kSlotQueryInterface] = Slot(AllocatorQueryInterface);
    slots[kSlotAddRef] = Slot(AllocatorAddRef);
    slots[kSlotRelease] = Slot(AllocatorRelease);
    slots[kAllocatorAllocate] = Slot(Allocate);
    slots[kAllocatorFree] = Slot(Free);
    return slots;
  }();
  return table.data();
}

// HostDialogService

Status PLUGIN_CALL DialogQueryInterface(HostDialogService* self, const Guid* iid, void** out) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  if (!SameGuid(*iid, IID_HostDialogService)) return NoInterface(out);
  ++runner->references;
  *out = &runner->object.iface;
  return STATUS_OK;
}
uint32_t PLUGIN_CALL DialogAddRef(HostDialogService* self) {
  return static_cast<uint32_t>(++StateOf<DialogRunner>(self)->references);
}
uint32_t PLUGIN_CALL DialogRelease(HostDialogService* self) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  return CountRelease(&runner->references, runner->ledger, "HostDialogService");
}

const char* DialogResultName(INT_PTR result) {
  switch (result) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case -1:
      return "failed";
    default:
      return "other";
  }
}

intptr_t PLUGIN_CALL RunModalDialog(HostDialogService* self, void* instance, int32_t dialogId,
                                    DialogProcFn proc) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  if (runner->references <= 0) {
    ReportProblem(runner->ledger, "RunModalDialog was called on a dialog service not obtained");
  }
  if (runner->scopes->openCookies.empty()) {
    ReportProblem(runner->ledger, "RunModalDialog was called outside a resource scope");
  } else if (instance != runner->scopes->plugin) {
    ReportProblem(runner->ledger,
                  "RunModalDialog was given instance handle %p, not the %p its resource scope "
                  "yielded",
                  instance, static_cast<void*>(runner->scopes->plugin));
  }
  Print("  RunModalDialog: dialog %d\n", static_cast<int>(dialogId));
  INT_PTR result =
      runner->cancelWhenReady
          ? RunDialogCancelledWhenReady(static_cast<HINSTANCE>(instance), dialogId,
                                        reinterpret_cast<DLGPROC>(proc), runner->ledger)
          : RunScriptedDialog(static_cast<HINSTANCE>(instance), dialogId,
                              reinterpret_cast<DLGPROC>(proc), *runner->script, runner->ledger);
  runner->lastResult = result;
  Print("  Dialog returned %d (%s)\n", static_cast<int>(result), DialogResultName(result));
  return result;
}

const AnyMethod* DialogMethods() {
  constexpr size_t kCount = kDialogServiceRunModalDialog + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kDialogKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(DialogQueryInterface);
    slots[kSlotAddRef] = Slot(DialogAddRef);
    slots[kSlotRelease] = Slot(DialogRelease);
    slots[kDialogServiceRunModalDialog] = Slot(RunModalDialog);
    return slots;
  }();
  return table.data();
}

// HostCallback

Status PLUGIN_CALL CallbackQueryInterface(HostCallback* self, const Guid* iid, void** out) {
  Callback* callback = StateOf<Callback>(self);
  if (!SameGuid(*iid, IID_HostDialogService)) return NoInterface(out);
  DialogRunner* runner = callback->dialogRunner;
  ++runner->references;
  *out = &runner->object.iface;
  return STATUS_OK;
}
uint32_t PLUGIN_CALL CallbackAddRef(HostCallback* self) {
  return static_cast<uint32_t>(++StateOf<Callback>(self)->references);
}
uint32_t PLUGIN_CALL CallbackRelease(HostCallback* self) {
  Callback* callback = StateOf<Callback>(self);
  return CountRelease(&callback->references, callback->ledger, "HostCallback");
}

void CheckScopeModule(Callback* callback, void* module, const char* operation) {
  if (module == callback->plugin) return;
  ReportProblem(callback->ledger, "%s was given module %p, but the plug-in is loaded at %p",
                operation, module, static_cast<void*>(callback->plugin));
}

void* PLUGIN_CALL OpenResourceScope(HostCallback* self, void* module, uint32_t* cookie) {
  Callback* callback = StateOf<Callback>(self);
  CheckScopeModule(callback, module, "OpenResourceScope");
  *cookie = callback->nextCookie++;
  callback->openCookies.push_back(*cookie);
  ++callback->scopesOpened;
  return callback->plugin;
}

Status PLUGIN_CALL CloseResourceScope(HostCallback* self, void* module, uint32_t cookie) {
  Callback* callback = StateOf<Callback>(self);
  CheckScopeModule(callback, module, "CloseResourceScope");
  std::vector<uint32_t>& open = callback->openCookies;
  for (size_t i = 0; i < open.size(); ++i) {
    if (open[i] != cookie) continue;
    open.erase(open.begin() + static_cast<ptrdiff_t>(i));
    callback->closedCookies.push_back(cookie);
    return STATUS_OK;
  }
  for (uint32_t closed : callback->closedCookies) {
    if (closed == cookie) {
      ReportProblem(callback->ledger, "the resource scope with cookie 0x%08X was closed twice",
                    cookie);
      return kHostInvalidArgument;
    }
  }
  ReportProblem(callback->ledger,
                "CloseResourceScope was given cookie 0x%08X, which no resource scope has (wrong "
                "cookie)",
                cookie);
  return kHostInvalidArgument;
}

const AnyMethod* CallbackMethods() {
  constexpr size_t kCount = kCallbackCloseResourceScope + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kCallbackKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(CallbackQueryInterface);
    slots[kSlotAddRef] = Slot(CallbackAddRef);
    slots[kSlotRelease] = Slot(CallbackRelease);
    slots[kCallbackOpenResourceScope] = Slot(OpenResourceScope);
    slots[kCallbackCloseResourceScope] = Slot(CloseResourceScope);
    return slots;
  }();
  return table.data();
}

// HostDictionary, one per registry entry

Status PLUGIN_CALL DictionaryQueryInterface(HostDictionary*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL DictionaryAddRef(HostDictionary* self) {
  return static_cast<uint32_t>(++StateOf<RegistryEntry>(self)->references);
}
uint32_t PLUGIN_CALL DictionaryRelease(HostDictionary* self) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  return CountRelease(&entry->references, entry->ledger, "HostDictionary");
}

Status PLUGIN_CALL PutValue(HostDictionary* self, uint32_t type, const void* value,
                            uint32_t reserved, const char* key) {
  RegistryEntry* entry = StateOf<RegistryEntry>(self);
  if (reserved != 0) {
    ReportProblem(entry->ledger, "PutValue(\"%s\") was given %u where 0 is expected", key,
                  reserved);
  }
  RegistryEntry::Value stored = {key, type, std::string(), 0};
  if (type == kValueAnsiText) {
    stored.text = static_cast<const char*>(value);
  } else if (type == kValueInt32) {
    memcpy(&stored.number, value, sizeof stored.number);
  } else {
    ReportProblem(entry->ledger,
                  "PutValue(\"%s\") was given type code %u, which is neither 9 nor 3", key, type);
    return kHostInvalidArgument;
  }
  for (RegistryEntry::Value& existing : entry->values) {
    if (existing.key == stored.key) {
      existing = stored;
      return STATUS_OK;
    }
  }
  entry->values.push_back(stored);
  return STATUS_OK;
}

const AnyMethod* DictionaryMethods() {
  constexpr size_t kCount = kDictionaryPutValue + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kDictionaryKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(DictionaryQueryInterface);
    slots[kSlotAddRef] = Slot(DictionaryAddRef);
    slots[kSlotRelease] = Slot(DictionaryRelease);
    slots[kDictionaryPutValue] = Slot(PutValue);
    return slots;
  }();
  return table.data();
}

// HostRegistry

Status PLUGIN_CALL RegistryQueryInterface(HostRegistry*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL RegistryAddRef(HostRegistry* self) {
  return static_cast<uint32_t>(++StateOf<Registry>(self)->references);
}
uint32_t PLUGIN_CALL RegistryRelease(HostRegistry* self) {
  Registry* registry = StateOf<Registry>(self);
  return CountRelease(&registry->references, registry->ledger, "HostRegistry");
}

Status PLUGIN_CALL AddEntry(HostRegistry* self, uint32_t value, const Guid* classId,
                            const Guid* interfaceId, HostDictionary** dictionary) {
  Registry* registry = StateOf<Registry>(self);
  if (value != registry->expectedValue) {
    ReportProblem(registry->ledger, "AddEntry was given entry value %u; Register was given %u",
                  value, registry->expectedValue);
  }
  std::unique_ptr<RegistryEntry> entry(new RegistryEntry());
  entry->dictionary.iface.methods = DictionaryMethods();
  entry->dictionary.state = entry.get();
  entry->ledger = registry->ledger;
  entry->value = value;
  entry->classId = *classId;
  entry->interfaceId = *interfaceId;
  *dictionary = &entry->dictionary.iface;
  registry->entries.push_back(std::move(entry));
  return STATUS_OK;
}

const AnyMethod* RegistryMethods() {
  constexpr size_t kCount = kRegistryAddEntry + 1;
  static const std::array<AnyMethod, kCount> table = [] {
    auto slots = UnexpectedTable<kRegistryKind>(std::make_index_sequence<kCount>());
    slots[kSlotQueryInterface] = Slot(RegistryQueryInterface);
    slots[kSlotAddRef] = Slot(RegistryAddRef);
    slots[kSlotRelease] = Slot(RegistryRelease);
    slots[kRegistryAddEntry] = Slot(AddEntry);
    return slots;
  }();
  return table.data();
}

// Class instances

Instance* InstanceOf(HostObjectHeader* header) {
  char* block = reinterpret_cast<char*>(header) - offsetof(Instance::Block, header);
  return reinterpret_cast<Instance::Block*>(block)->instance;
}

// The host serves no interface from its instances; the module only forwards
// queries here.
Status PLUGIN_CALL InstanceQueryInterface(HostObjectHeader*, const Guid*, void** out) {
  return NoInterface(out);
}
uint32_t PLUGIN_CALL InstanceAddRef(HostObjectHeader* self) {
  Instance* instance = InstanceOf(self);
  ++instance->addRefs;
  ++instance->tally->references;
  return static_cast<uint32_t>(++instance->references);
}
uint32_t PLUGIN_CALL InstanceRelease(HostObjectHeader* self) {
  Instance* instance = InstanceOf(self);
  ++instance->releases;
  --instance->tally->references;
  return CountRelease(&instance->references, instance->ledger, "class instance");
}

const AnyMethod* InstanceMethods() {
  static const std::array<AnyMethod, kSlotRelease + 1> table = {
      {Slot(InstanceQueryInterface), Slot(InstanceAddRef), Slot(InstanceRelease)}};
  return table.data();
}

}  // namespace

std::string FormatGuid(const Guid& guid) {
  char text[40];
  snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
           guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
           guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool SameGuid(const Guid& a, const Guid& b) { return memcmp(&a, &b, sizeof a) == 0; }

void InitHostServices(HostServices* host, HMODULE plugin, const DialogScript* script) {
  host->ledger = Ledger{0, 0};
  Ledger* ledger = &host->ledger;

  Allocator& allocator = host->allocator;
  allocator.object = {{AllocatorMethods()}, &allocator};
  allocator.ledger = ledger;
  allocator.live.clear();
  allocator.requests = allocator.allocations = allocator.frees = 0;
  allocator.references = 0;
  allocator.failAt = allocator.refusedAt = 0;
  allocator.phase = "the host";

  DialogRunner& runner = host->dialogRunner;
  runner.object = {{DialogMethods()}, &runner};
  runner.ledger = ledger;
  runner.script = script;
  runner.scopes = &host->callback;
  runner.references = 0;
  runner.lastResult = 0;
  runner.cancelWhenReady = false;

  Callback& callback = host->callback;
  callback.object = {{CallbackMethods()}, &callback};
  callback.ledger = ledger;
  callback.plugin = plugin;
  callback.dialogRunner = &runner;
  callback.references = 0;
  callback.openCookies.clear();
  callback.closedCookies.clear();
  callback.nextCookie = 0x5C0E0001;
  callback.scopesOpened = 0;

  Registry& registry = host->registry;
  registry.object = {{RegistryMethods()}, &registry};
  registry.ledger = ledger;
  registry.expectedValue = 0;
  registry.references = 0;
  registry.entries.clear();

  host->instances = InstanceTally{0, 0};
}

HostAllocator* AllocatorInterface(HostServices* host) { return &host->allocator.object.iface; }
HostRegistry* RegistryInterface(HostServices* host) { return &host->registry.object.iface; }

uint32_t BlockSize(const Allocator* allocator, const void* block) {
  for (const Allocator::Block& live : allocator->live) {
    if (live.address == block) return live.size;
  }
  return 0;
}

void* AllocateBlock(Allocator* allocator, uint32_t size) {
  uint32_t request = ++allocator->requests;
  if (request == allocator->failAt) {
    allocator->refusedAt = request;
    Print("  Allocation %u: %u bytes for %s, refused on purpose (--fail-allocation)\n", request,
          size, allocator->phase);
    return nullptr;
  }
  void* block = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  Print("  Allocation %u: %u bytes for %s\n", request, size, allocator->phase);
  // Fresh blocks are not zeroed by the host; the pattern makes it visible.
  memset(block, 0xCD, size);
  allocator->live.push_back(Allocator::Block{block, size == 0 ? 1 : size});
  ++allocator->allocations;
  return block;
}

void FreeBlock(Allocator* allocator, void* block) {
  for (size_t i = 0; i < allocator->live.size(); ++i) {
    if (allocator->live[i].address != block) continue;
    allocator->live.erase(allocator->live.begin() + static_cast<ptrdiff_t>(i));
    HeapFree(GetProcessHeap(), 0, block);
    ++allocator->frees;
    return;
  }
}

Instance* CreateInstance(HostServices* host, const Guid& classId, uint32_t size,
                         InstanceCreateHook createHook, InstanceDestroyHook destroyHook) {
  if (size < sizeof(HostObjectHeader)) {
    ReportProblem(&host->ledger,
                  "class %s declares instances of %u bytes, too small for the header",
                  FormatGuid(classId).c_str(), size);
    return nullptr;
  }
  uint32_t blockSize = static_cast<uint32_t>(offsetof(Instance::Block, header)) + size;
  uint32_t requestsBefore = host->allocator.requests;
  Instance::Block* block =
      static_cast<Instance::Block*>(AllocateBlock(&host->allocator, blockSize));
  if (block == nullptr) {
    if (RefusedSince(&host->allocator, requestsBefore)) {
      ReportHostCausedFailure(&host->ledger,
                              "No instance of class %s: the host's own allocation was refused; "
                              "the class is skipped",
                              FormatGuid(classId).c_str());
    } else {
      ReportProblem(&host->ledger, "out of memory for an instance of %u bytes", size);
    }
    return nullptr;
  }
  memset(block, 0, blockSize);
  Instance* instance = new Instance{&host->ledger,
                                    &host->allocator,
                                    &host->instances,
                                    classId,
                                    size,
                                    destroyHook,
                                    block,
                                    1,
                                    0,
                                    0};
  ++host->instances.live;
  ++host->instances.references;
  block->instance = instance;
  block->header.instanceMethods = InstanceMethods();
  block->header.unused = 0;
  block->header.callback = &host->callback.object.iface;
  block->header.allocator = &host->allocator.object.iface;
  Status status = createHook(&block->header);
  if (status != STATUS_OK) {
    ReportProblem(&host->ledger, "the create hook of class %s failed with 0x%08X",
                  FormatGuid(classId).c_str(), status);
    FreeBlock(&host->allocator, block);
    --host->instances.live;
    --host->instances.references;
    delete instance;
    return nullptr;
  }
  return instance;
}

HostObjectHeader* InstanceHeader(Instance* instance) { return &instance->block->header; }

void DestroyInstance(Instance* instance) {
  if (instance->references != 1) {
    ReportProblem(instance->ledger,
                  "the instance of class %s holds %d references once its interfaces are "
                  "released; only the host's 1 should remain (AddRef %u, Release %u)",
                  FormatGuid(instance->classId).c_str(), instance->references, instance->addRefs,
                  instance->releases);
  }
  --instance->references;
  --instance->tally->references;
  --instance->tally->live;
  instance->destroyHook(&instance->block->header);
  FreeBlock(instance->allocator, instance->block);
  delete instance;
}

bool RefusedSince(const Allocator* allocator, uint32_t requestsBefore) {
  return allocator->refusedAt != 0 && allocator->refusedAt > requestsBefore;
}

void ForgetLastRun(HostServices* host) {
  host->registry.entries.clear();
  host->callback.closedCookies.clear();
}

bool Balanced(HostServices* host) {
  Ledger* ledger = &host->ledger;
  int problemsBefore = ledger->problems;
  const Allocator& allocator = host->allocator;
  if (!allocator.live.empty()) {
    uint32_t bytes = 0;
    for (const Allocator::Block& block : allocator.live) bytes += block.size;
    ReportProblem(ledger,
                  "%u block(s) of %u bytes allocated through the HostAllocator were not freed",
                  static_cast<unsigned>(allocator.live.size()), bytes);
  }
  const Callback& callback = host->callback;
  if (!callback.openCookies.empty()) {
    ReportProblem(ledger, "%u resource scope(s) were opened and not closed (first cookie 0x%08X)",
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
      ReportProblem(ledger, "the plug-in still holds %d reference(s) on the %s", service.references,
                    service.name);
    }
  }
  for (const auto& entry : host->registry.entries) {
    if (entry->references != 0) {
      ReportProblem(ledger, "the plug-in still holds %d reference(s) on a HostDictionary",
                    entry->references);
    }
  }
  return ledger->problems == problemsBefore;
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
