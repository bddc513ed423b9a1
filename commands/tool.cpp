#include <windows.h>

#include "commands/commands.h"
#include "dialog/dialog_ids.h"
#include "dialog/settings_dialog.h"
#include "module/entry.h"
#include "module/os_status.h"
#include "settings/settings.h"

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
