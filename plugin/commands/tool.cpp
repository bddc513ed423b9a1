#include "plugin/commands/tool.h"

#include <windows.h>

#include "host/dialog_ids.h"
#include "plugin/dialog/settings_dialog.h"
#include "plugin/module/entry.h"
#include "plugin/module/os_status.h"
#include "plugin/settings/settings.h"

namespace {

MethodTable g_toolMethods;

Status PLUGIN_CALL ToolInitHook(InterfaceObject*) { return STATUS_OK; }
void PLUGIN_CALL ToolDestroyHook(InterfaceObject*) {}

uint32_t PLUGIN_CALL ReleaseTool(InterfaceObject* object) {
  return ReleaseInterfaceObject(object, ToolDestroyHook);
}

}  // namespace

Status PLUGIN_CALL Invoke(InterfaceObject* self) {
  HostCallback* callback = self->owner->callback;
  uint32_t cookie = 0;
  void* instance = MethodAt<OpenResourceScopeFn>(callback, kCallbackOpenResourceScope)(
      callback, ModuleHandle, &cookie);
  CloseResourceScopeFn closeScope =
      MethodAt<CloseResourceScopeFn>(callback, kCallbackCloseResourceScope);

  ReadSettings(&g_settings);

  HostDialogService* service = nullptr;
  Status status = MethodAt<QueryInterfaceFn>(callback, kSlotQueryInterface)(
      callback, &IID_HostDialogService, reinterpret_cast<void**>(&service));
  if (status != STATUS_OK) {
    closeScope(callback, ModuleHandle, cookie);
    return status;
  }

  intptr_t result = MethodAt<RunModalDialogFn>(service, kDialogServiceRunModalDialog)(
      service, instance, IDD_SETTINGS, reinterpret_cast<DialogProcFn>(SettingsDialogProc));
  // Confirmed settings that did not reach the file are reported, not lost
  // silently; the error is taken before any host call can replace it.
  if (result == IDOK && WriteSettings(&g_settings) == 0) status = StatusFromLastError();

  MethodAt<ReleaseFn>(service, kSlotRelease)(service);
  closeScope(callback, ModuleHandle, cookie);
  return status;
}

Status PLUGIN_CALL GetEnabled(InterfaceObject*, int32_t* flag) {
  *flag = 1;
  return STATUS_OK;
}

MethodTable* GetToolMethods() {
  if (g_toolMethods.ready != 0) return &g_toolMethods;
  g_toolMethods.ready = 1;
  g_toolMethods.slots[kToolQueryInterface] = Slot(QueryInterface);
  g_toolMethods.slots[kToolAddRef] = Slot(AddRef);
  g_toolMethods.slots[kToolRelease] = Slot(ReleaseTool);
  g_toolMethods.slots[kToolInvoke] = Slot(Invoke);
  g_toolMethods.slots[kToolGetEnabled] = Slot(GetEnabled);
  return &g_toolMethods;
}

Status PLUGIN_CALL CreateToolInterface(HostObjectHeader* owner, InterfaceObject** out) {
  MethodTable* table = GetToolMethods();
  return CreateBoundInterface(owner, out, table, ToolInitHook);
}
