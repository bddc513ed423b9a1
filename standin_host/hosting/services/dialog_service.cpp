#include "standin_host/hosting/services/dialog_service.h"

#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"
#include "standin_host/user/dialog_timing.h"

namespace {

Status PLUGIN_CALL DialogQueryInterface(HostDialogService* self, const Guid* iid, void** out) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  Status status = kHostNoInterface;
  if (SameGuid(*iid, IID_HostDialogService)) {
    *out = ReferenceDialogService(runner);
    status = STATUS_OK;
  } else {
    NoInterface(out);
  }
  RecordCall(runner->problemList, "HostDialogService.QueryInterface(%s) = 0x%08X, %s",
             FormatGuid(*iid).c_str(), status, MaskedAddress(*out));
  return status;
}
uint32_t PLUGIN_CALL DialogAddRef(HostDialogService* self) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  RecordCall(runner->problemList, "HostDialogService.AddRef = %d", runner->references + 1);
  return static_cast<uint32_t>(++runner->references);
}
uint32_t PLUGIN_CALL DialogRelease(HostDialogService* self) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  RecordCall(runner->problemList, "HostDialogService.Release = %d", runner->references - 1);
  return CountRelease(&runner->references, runner->problemList, "HostDialogService");
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

// The user behind the dialog: a seeded random actor, one who cancels at once
// (repeated runs), or the command line's script.
INT_PTR RunForUser(DialogRunner* runner, HINSTANCE instance, int dialogId, DLGPROC proc) {
  if (runner->actor != nullptr) {
    INT_PTR result = RunDialog(instance, dialogId, proc, DialogCharset::kWide, runner->actor,
                               runner->actorContext);
    if (result == -1) {
      ReportProblem(runner->problemList, "dialog %d could not be created (error %lu)", dialogId,
                    GetLastError());
    }
    return result;
  }
  if (runner->cancelWhenReady) {
    return RunDialogCancelledWhenReady(instance, dialogId, proc, runner->problemList);
  }
  return RunScriptedDialog(instance, dialogId, proc, *runner->script, runner->problemList,
                           &runner->lastOutcome);
}

intptr_t PLUGIN_CALL RunModalDialog(HostDialogService* self, void* instance, int32_t dialogId,
                                    DialogProcFn proc) {
  DialogRunner* runner = StateOf<DialogRunner>(self);
  if (runner->references <= 0) {
    ReportProblem(runner->problemList,
                  "RunModalDialog was called on a dialog service not obtained");
  }
  if (runner->openScopes->empty()) {
    ReportProblem(runner->problemList, "RunModalDialog was called outside a resource scope");
  } else if (instance != runner->scopeModule) {
    ReportProblem(runner->problemList,
                  "RunModalDialog was given instance handle %p, not the %p its resource scope "
                  "yielded",
                  instance, static_cast<void*>(runner->scopeModule));
  }
  Print("  RunModalDialog: dialog %d\n", static_cast<int>(dialogId));
  ProgressStep("dialog %d opening", static_cast<int>(dialogId));
  INT_PTR result = RunForUser(runner, static_cast<HINSTANCE>(instance), dialogId,
                              reinterpret_cast<DLGPROC>(proc));
  runner->lastResult = result;
  RecordCall(runner->problemList, "HostDialogService.RunModalDialog(%s, %d, %s) = %d (%s)",
             instance == runner->scopeModule ? "the scope's module" : MaskedAddress(instance),
             static_cast<int>(dialogId), MaskedAddress(reinterpret_cast<const void*>(proc)),
             static_cast<int>(result), DialogResultName(result));
  Print("  Dialog returned %d (%s)\n", static_cast<int>(result), DialogResultName(result));
  ProgressStep("dialog %d returned %d", static_cast<int>(dialogId), static_cast<int>(result));
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

}  // namespace

void InitDialogRunner(DialogRunner* runner, ProblemList* problemList, const DialogScript* script,
                      const std::vector<uint32_t>* openScopes, HMODULE scopeModule) {
  runner->object = {{DialogMethods()}, runner};
  runner->problemList = problemList;
  runner->script = script;
  runner->openScopes = openScopes;
  runner->scopeModule = scopeModule;
  runner->references = 0;
  runner->lastResult = 0;
  runner->lastOutcome = DialogOutcome{};
  runner->cancelWhenReady = false;
  runner->actor = nullptr;
  runner->actorContext = nullptr;
}

HostDialogService* ReferenceDialogService(DialogRunner* runner) {
  ++runner->references;
  return &runner->object.iface;
}
