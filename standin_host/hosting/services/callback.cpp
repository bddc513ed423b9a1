#include "standin_host/hosting/services/callback.h"

namespace {

Status PLUGIN_CALL CallbackQueryInterface(HostCallback* self, const Guid* iid, void** out) {
  Callback* callback = StateOf<Callback>(self);
  Status status = kHostNoInterface;
  if (SameGuid(*iid, IID_HostDialogService)) {
    *out = ReferenceDialogService(callback->dialogRunner);
    status = STATUS_OK;
  } else {
    NoInterface(out);
  }
  RecordCall(callback->problemList, "HostCallback.QueryInterface(%s) = 0x%08X, %s",
             FormatGuid(*iid).c_str(), status, MaskedAddress(*out));
  return status;
}
uint32_t PLUGIN_CALL CallbackAddRef(HostCallback* self) {
  Callback* callback = StateOf<Callback>(self);
  RecordCall(callback->problemList, "HostCallback.AddRef = %d", callback->references + 1);
  return static_cast<uint32_t>(++callback->references);
}
uint32_t PLUGIN_CALL CallbackRelease(HostCallback* self) {
  Callback* callback = StateOf<Callback>(self);
  RecordCall(callback->problemList, "HostCallback.Release = %d", callback->references - 1);
  return CountRelease(&callback->references, callback->problemList, "HostCallback");
}

// A module handle as the call record names it.
const char* ModuleName(const Callback* callback, const void* module) {
  return module == callback->plugin ? "the plug-in" : MaskedAddress(module);
}

void CheckScopeModule(Callback* callback, void* module, const char* operation) {
  if (module == callback->plugin) return;
  ReportProblem(callback->problemList, "%s was given module %p, but the plug-in is loaded at %p",
                operation, module, static_cast<void*>(callback->plugin));
}

void* PLUGIN_CALL OpenResourceScope(HostCallback* self, void* module, uint32_t* cookie) {
  Callback* callback = StateOf<Callback>(self);
  CheckScopeModule(callback, module, "OpenResourceScope");
  *cookie = callback->nextCookie++;
  callback->openCookies.push_back(*cookie);
  ++callback->scopesOpened;
  RecordCall(callback->problemList, "HostCallback.OpenResourceScope(%s) = %s, cookie 0x%08X",
             ModuleName(callback, module), ModuleName(callback, callback->scopeYields), *cookie);
  return callback->scopeYields;
}

// Closes the scope `cookie` names; a cookie no open scope has is a problem.
Status CloseScope(Callback* callback, uint32_t cookie) {
  std::vector<uint32_t>& open = callback->openCookies;
  for (size_t i = 0; i < open.size(); ++i) {
    if (open[i] != cookie) continue;
    open.erase(open.begin() + static_cast<ptrdiff_t>(i));
    callback->closedCookies.push_back(cookie);
    return STATUS_OK;
  }
  for (uint32_t closed : callback->closedCookies) {
    if (closed == cookie) {
      ReportProblem(callback->problemList, "the resource scope with cookie 0x%08X was closed twice",
                    cookie);
      return kHostInvalidArgument;
    }
  }
  ReportProblem(callback->problemList,
                "CloseResourceScope was given cookie 0x%08X, which no resource scope has (wrong "
                "cookie)",
                cookie);
  return kHostInvalidArgument;
}

Status PLUGIN_CALL CloseResourceScope(HostCallback* self, void* module, uint32_t cookie) {
  Callback* callback = StateOf<Callback>(self);
  CheckScopeModule(callback, module, "CloseResourceScope");
  Status status = CloseScope(callback, cookie);
  RecordCall(callback->problemList, "HostCallback.CloseResourceScope(%s, 0x%08X) = 0x%08X",
             ModuleName(callback, module), cookie, status);
  return status;
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

void InitCallback(Callback* callback, ProblemList* problemList, HMODULE plugin,
                  DialogRunner* dialogRunner) {
  callback->object = {{CallbackMethods()}, callback};
  callback->problemList = problemList;
  callback->plugin = plugin;
  callback->scopeYields = plugin;
  callback->dialogRunner = dialogRunner;
  callback->references = 0;
  callback->openCookies.clear();
  callback->closedCookies.clear();
  callback->nextCookie = 0x5C0E0001;
  callback->scopesOpened = 0;
}
