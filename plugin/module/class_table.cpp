#include "plugin/module/class_table.h"

#include <string.h>

#include "plugin/commands/registration.h"
#include "plugin/commands/tool.h"

namespace {

Status PLUGIN_CALL RegistrationCreateHook(void*) { return STATUS_OK; }
void PLUGIN_CALL RegistrationDestroyHook(void*) {}
Status PLUGIN_CALL SettingsToolCreateHook(void*) { return STATUS_OK; }
void PLUGIN_CALL SettingsToolDestroyHook(void*) {}

}  // namespace

const ClassEntry ClassTable[kClassCount] = {
    {&CLSID_RegistrationClass, 1, 28, RegistrationCreateHook, RegistrationDestroyHook,
     &IID_RegistrationInterface, 1, CreateRegistrationInterface},
    {&CLSID_SettingsTool, 1, 28, SettingsToolCreateHook, SettingsToolDestroyHook,
     &IID_ToolInterface, 1, CreateToolInterface},
};

int GuidEqual(const Guid* a, const Guid* b) {
  uint32_t wordsA[4];
  uint32_t wordsB[4];
  memcpy(wordsA, a, sizeof wordsA);
  memcpy(wordsB, b, sizeof wordsB);
  for (int i = 0; i < 4; ++i) {
    if (wordsA[i] != wordsB[i]) return 0;
  }
  return 1;
}

Status EnumerateClasses(const Guid* filter, ClassVisitor classVisitor,
                        InterfaceVisitor interfaceVisitor, void* userData) {
  for (const ClassEntry& entry : ClassTable) {
    if (filter != nullptr && GuidEqual(filter, entry.classId) == 0) continue;
    if (classVisitor != nullptr) {
      Status result = classVisitor(entry.classId, entry.classVersion, entry.instanceSize,
                                   entry.createHook, entry.destroyHook, userData);
      if (result != STATUS_OK) return result;
    }
    if (interfaceVisitor != nullptr) {
      Status result = interfaceVisitor(entry.classId, entry.classVersion, entry.interfaceId,
                                       entry.interfaceVersion, entry.creator, userData);
      if (result != STATUS_OK) return result;
    }
  }
  return STATUS_OK;
}
