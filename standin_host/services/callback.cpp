#include "standin_host/services/callback.h"

namespace {

Status PLUGIN_CALL CallbackQueryInterface(HostCallback* self, const Guid* iid, void** out) {
  Callback* callback = StateOf<Callback>(self);
  if (!SameGuid(*iid, IID_HostDialogService)) return NoInterface(out);
  *out = ReferenceDialogService(callback->dialogRunner);
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
  return callback->scopeYields;
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

}  // namespace

void InitCallback(Callback* callback, Ledger* ledger, HMODULE plugin, DialogRunner* dialogRunner) {
  callback->object = {{CallbackMethods()}, callback};
  callback->ledger = ledger;
  callback->plugin = plugin;
  callback->scopeYields = plugin;
  callback->dialogRunner = dialogRunner;
  callback->references = 0;
  callback->openCookies.clear();
  callback->closedCookies.clear();
  callback->nextCookie = 0x5C0E0001;
  callback->scopesOpened = 0;
}
