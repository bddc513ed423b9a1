#include "plugin/commands/registration.h"

#include <windows.h>

#include "host/dialog_ids.h"
#include "plugin/module/entry.h"

namespace {

// Published when the resource scope yields a module without string 1, so the
// host never receives an unset buffer.
const wchar_t kDisplayNameFallback[] = L"Quorvane for Audio \u8A2D\u5B9A...";

void LoadDisplayName(HINSTANCE instance, char* buffer, int size) {
  if (LoadStringA(instance, IDS_DISPLAY_NAME, buffer, size) > 0) return;
  // Converted the way LoadStringA converts, to the ANSI code page.
  if (WideCharToMultiByte(CP_ACP, 0, kDisplayNameFallback, -1, buffer, size, nullptr, nullptr) ==
      0) {
    buffer[0] = '\0';
  }
}

MethodTable g_registrationMethods;

Status PLUGIN_CALL RegistrationInitHook(InterfaceObject*) { return STATUS_OK; }
void PLUGIN_CALL RegistrationDestroyHook(InterfaceObject*) {}

uint32_t PLUGIN_CALL ReleaseRegistration(InterfaceObject* object) {
  return ReleaseInterfaceObject(object, RegistrationDestroyHook);
}

}  // namespace

Status PLUGIN_CALL Register(InterfaceObject* self, HostRegistry* registry, uint32_t entryValue) {
  HostCallback* callback = self->owner->callback;
  uint32_t cookie = 0;
  HINSTANCE instance = static_cast<HINSTANCE>(MethodAt<OpenResourceScopeFn>(
      callback, kCallbackOpenResourceScope)(callback, ModuleHandle, &cookie));
  char displayName[256];
  LoadDisplayName(instance, displayName, sizeof displayName);
  // The scope is closed before the registry is touched.
  MethodAt<CloseResourceScopeFn>(callback, kCallbackCloseResourceScope)(callback, ModuleHandle,
                                                                        cookie);

  HostDictionary* dictionary = nullptr;
  Status status = MethodAt<AddEntryFn>(registry, kRegistryAddEntry)(
      registry, entryValue, &CLSID_SettingsTool, &IID_ToolInterface, &dictionary);
  if (status != STATUS_OK) return status;
  PutValueFn putValue = MethodAt<PutValueFn>(dictionary, kDictionaryPutValue);
  status = putValue(dictionary, kValueAnsiText, displayName, 0, "displayNameString");
  if (status != STATUS_OK) return status;
  const int32_t alwaysEnabled = 1;
  return putValue(dictionary, kValueInt32, &alwaysEnabled, 0, "alwaysEnabled");
}

MethodTable* GetRegistrationMethods() {
  if (g_registrationMethods.ready != 0) return &g_registrationMethods;
  g_registrationMethods.ready = 1;
  g_registrationMethods.slots[kRegistrationQueryInterface] = Slot(QueryInterface);
  g_registrationMethods.slots[kRegistrationAddRef] = Slot(AddRef);
  g_registrationMethods.slots[kRegistrationRelease] = Slot(ReleaseRegistration);
  g_registrationMethods.slots[kRegistrationRegister] = Slot(Register);
  return &g_registrationMethods;
}

Status PLUGIN_CALL CreateRegistrationInterface(HostObjectHeader* owner, InterfaceObject** out) {
  // The table is fetched before allocating, so it is filled even when
  // allocation fails.
  MethodTable* table = GetRegistrationMethods();
  return CreateBoundInterface(owner, out, table, RegistrationInitHook);
}
