#include "standin_host/hosting/session.h"

#include <stdio.h>

#include "host/plugin_interfaces.h"
#include "standin_host/hosting/plugin_copy.h"
#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"

namespace {

typedef Status(PLUGIN_CALL* RegisterFn)(void* self, HostRegistry* registry, uint32_t entryValue);
typedef Status(PLUGIN_CALL* InvokeFn)(void* self);
typedef Status(PLUGIN_CALL* GetEnabledFn)(void* self, int32_t* flag);

const char* InterfaceName(const Guid& iid) {
  if (SameGuid(iid, IID_IClassFactory)) return "class factory";
  if (SameGuid(iid, IID_RegistrationInterface)) return "registration interface";
  if (SameGuid(iid, IID_ToolInterface)) return "tool interface";
  return "unknown interface";
}

void BeforeCall(Session* session) {
  if (session->beforePluginCall != nullptr) session->beforePluginCall();
}

void SetPhase(Session* session, const std::string& phase) {
  session->phase = phase;
  session->host.allocator.phase = session->phase.c_str();
  ProgressStep("%s", phase.c_str());
}

// A failed call is the plug-in's fault unless it answered out of memory to
// the allocation the host refused during that very call.
void JudgeFailure(Session* session, const char* call, Status status, uint32_t requestsBefore) {
  ProblemList* problemList = &session->host.problemList;
  bool refused = RefusedSince(&session->host.allocator, requestsBefore);
  if (status == ERR_OUT_OF_MEMORY && refused) {
    ReportHostCausedFailure(problemList, "%s answered out of memory to the refused allocation",
                            call);
  } else if (status != STATUS_OK) {
    ReportProblem(problemList, "%s failed with 0x%08X", call, status);
  } else if (refused) {
    ReportProblem(problemList, "%s returned 0 although the allocation it asked for was refused",
                  call);
  }
}

bool ReadClassInfo(Session* session) {
  HostServices* host = &session->host;
  ClassInfoRecord* table = nullptr;
  SetPhase(session, "DllGetClassInfo (the class-info table)");
  uint32_t requestsBefore = host->allocator.requests;
  BeforeCall(session);
  EnterCall(&host->problemList, "DllGetClassInfo(HostAllocator)");
  Status status = session->exports.getClassInfo(AllocatorInterface(host), &table);
  LeaveCall(&host->problemList, "DllGetClassInfo = 0x%08X, %s", status,
            AddressName(&host->allocator, table).c_str());
  Print("DllGetClassInfo returned 0x%08X\n", status);
  JudgeFailure(session, "DllGetClassInfo", status, requestsBefore);
  if (status != STATUS_OK) return false;
  uint32_t blockSize = BlockSize(&host->allocator, table);
  if (blockSize == 0) {
    ReportProblem(&host->problemList,
                  "DllGetClassInfo returned %p, which is no block from the HostAllocator it was "
                  "given",
                  static_cast<void*>(table));
    return false;
  }
  uint32_t capacity = blockSize / sizeof(ClassInfoRecord);
  uint32_t count = 0;
  while (count < capacity && !SameGuid(table[count].classId, GUID_NULL)) ++count;
  if (count == capacity) {
    ReportProblem(&host->problemList,
                  "the class-info table has no GUID_NULL record within its %u bytes", blockSize);
  }
  session->records.assign(table, table + count);
  Print("Class info: %u records and the terminator in a %u-byte block\n", count, blockSize);
  RecordCall(&host->problemList, "class-info table: %u records in %u bytes", count, blockSize);
  for (uint32_t i = 0; i < count; ++i) {
    const ClassInfoRecord& record = table[i];
    RecordCall(&host->problemList, "  %u: class %s v%u, interface %s v%u", i,
               FormatGuid(record.classId).c_str(), record.classVersion,
               FormatGuid(record.interfaceId).c_str(), record.interfaceVersion);
    Print("  %u: class %s v%u, %s %s v%u\n", i, FormatGuid(record.classId).c_str(),
          record.classVersion, InterfaceName(record.interfaceId),
          FormatGuid(record.interfaceId).c_str(), record.interfaceVersion);
  }
  // The table is the host's to free.
  FreeBlock(&host->allocator, table);
  return count > 0;
}

void ReadClassForms(Session* session) {
  for (const ClassInfoRecord& record : session->records) {
    if (!SameGuid(record.interfaceId, IID_IClassFactory)) continue;
    ClassForm form = {record.classId, 0, nullptr, nullptr};
    BeforeCall(session);
    ProblemList* problemList = &session->host.problemList;
    EnterCall(problemList, "DllGetClassForm(%s)", FormatGuid(record.classId).c_str());
    Status status = session->exports.getClassForm(&form.classId, &form.size, &form.createHook,
                                                  &form.destroyHook);
    LeaveCall(problemList, "DllGetClassForm = 0x%08X, size %u, create hook %s, destroy hook %s",
              status, form.size, MaskedAddress(reinterpret_cast<const void*>(form.createHook)),
              MaskedAddress(reinterpret_cast<const void*>(form.destroyHook)));
    if (status != STATUS_OK) {
      ReportProblem(&session->host.problemList, "DllGetClassForm(%s) failed with 0x%08X",
                    FormatGuid(record.classId).c_str(), status);
      continue;
    }
    Print("Class %s: instance size %u\n", FormatGuid(form.classId).c_str(), form.size);
    session->forms.push_back(form);
  }
}

const ClassForm* FindForm(Session* session, const Guid& classId) {
  for (const ClassForm& form : session->forms) {
    if (SameGuid(form.classId, classId)) return &form;
  }
  ReportProblem(&session->host.problemList, "class %s has no form from DllGetClassForm",
                FormatGuid(classId).c_str());
  return nullptr;
}

void RegisterTools(Session* session) {
  HostServices* host = &session->host;
  for (const ClassInfoRecord& record : session->records) {
    if (!SameGuid(record.interfaceId, IID_RegistrationInterface)) continue;
    Print("Registering through class %s\n", FormatGuid(record.classId).c_str());
    Instance* instance = nullptr;
    void* object = nullptr;
    if (!OpenInterface(session, record.classId, record.interfaceId, &instance, &object)) continue;
    uint32_t entryValue = ++session->registrations;
    host->registry.expectedValue = entryValue;
    SetPhase(session, "Register");
    BeforeCall(session);
    EnterCall(&host->problemList, "registration interface.Register(HostRegistry, %u)", entryValue);
    Status status = MethodAt<RegisterFn>(object, kRegistrationRegister)(
        object, RegistryInterface(host), entryValue);
    LeaveCall(&host->problemList, "Register = 0x%08X", status);
    Print("  Register returned 0x%08X\n", status);
    if (status != STATUS_OK)
      ReportProblem(&host->problemList, "Register failed with 0x%08X", status);
    CloseInterface(session, instance, object, record.interfaceId);
  }
}

const RegistryEntry::Value* FindValue(const RegistryEntry& entry, const char* key, uint32_t type) {
  for (const RegistryEntry::Value& value : entry.values) {
    if (value.key == key && value.type == type) return &value;
  }
  return nullptr;
}

void PrintEntries(Session* session) {
  UINT codePage = GetACP();
  for (const auto& entry : session->host.registry.entries) {
    Print("Registration entry %u: class %s, %s %s\n", entry->value,
          FormatGuid(entry->classId).c_str(), InterfaceName(entry->interfaceId),
          FormatGuid(entry->interfaceId).c_str());
    for (const RegistryEntry::Value& value : entry->values) {
      if (value.type == kValueAnsiText) {
        Print("  %s = \"%s\" (text, %u bytes in code page %u)\n", value.key.c_str(),
              Utf8FromAnsi(value.text.c_str()).c_str(), static_cast<unsigned>(value.text.size()),
              codePage);
      } else {
        Print("  %s = %d\n", value.key.c_str(), value.number);
      }
    }
    if (FindValue(*entry, "displayNameString", kValueAnsiText) == nullptr) {
      ReportProblem(&session->host.problemList,
                    "registration entry %u has no displayNameString text", entry->value);
    }
  }
}

void RunTool(Session* session, const RegistryEntry& entry) {
  HostServices* host = &session->host;
  const RegistryEntry::Value* name = FindValue(entry, "displayNameString", kValueAnsiText);
  Print("Running \"%s\"\n", name != nullptr ? Utf8FromAnsi(name->text.c_str()).c_str() : "?");
  if (!SameGuid(entry.interfaceId, IID_ToolInterface)) {
    ReportProblem(&host->problemList, "registration entry %u names the %s, not the tool interface",
                  entry.value, InterfaceName(entry.interfaceId));
    return;
  }
  Instance* instance = nullptr;
  void* object = nullptr;
  if (!OpenInterface(session, entry.classId, entry.interfaceId, &instance, &object)) return;
  int32_t flag = -1;
  SetPhase(session, "GetEnabled");
  BeforeCall(session);
  EnterCall(&host->problemList, "tool interface.GetEnabled");
  Status status = MethodAt<GetEnabledFn>(object, kToolGetEnabled)(object, &flag);
  LeaveCall(&host->problemList, "GetEnabled = 0x%08X, flag %d", status, static_cast<int>(flag));
  Print("  GetEnabled returned 0x%08X, flag %d\n", status, static_cast<int>(flag));
  if (status != STATUS_OK)
    ReportProblem(&host->problemList, "GetEnabled failed with 0x%08X", status);
  const RegistryEntry::Value* always = FindValue(entry, "alwaysEnabled", kValueInt32);
  if (flag == 0 && (always == nullptr || always->number == 0)) {
    Print("  The command is disabled; not invoked\n");
  } else {
    InvokeTool(session, object);
  }
  CloseInterface(session, instance, object, entry.interfaceId);
}

std::string WindowsErrorText(DWORD error) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0 && text != nullptr) {
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
      --length;
    text[length] = L'\0';
    utf8 = Utf8FromWide(text);
  }
  if (text != nullptr) LocalFree(text);
  return "Windows error " + std::to_string(error) + (utf8.empty() ? "" : ": " + utf8);
}

std::string DescribeStatus(Status status) {
  if ((status & 0xFFFF0000u) == 0x80070000u) return WindowsErrorText(status & 0xFFFFu);
  if (status == ERR_FAIL) return "an unspecified failure";
  char text[24];
  snprintf(text, sizeof text, "status 0x%08X", status);
  return text;
}

void Unload(Session* session) {
  FreePluginCopy(session->plugin, session->settingsCopy, &session->host.problemList);
}

}  // namespace

int FinishSession(Session* session) {
  HostServices* host = &session->host;
  Status status = AskCanUnloadNow(session);
  Print("DllCanUnloadNow returned 0x%08X\n", status);
  if (status != STATUS_OK) {
    ReportProblem(&host->problemList,
                  "DllCanUnloadNow answered 0x%08X after the host released every interface",
                  status);
  }
  CheckBalance(host);
  Unload(session);
  if (host->problemList.problems != 0) {
    PrintError("standin_host: %d problem(s) found; the run is not clean\n",
               host->problemList.problems);
    return kExitProblems;
  }
  if (host->problemList.hostCausedFailures != 0) {
    Print(
        "Balanced run: every reference, block and resource scope was given back, but %d "
        "call(s) failed the way the host made them fail (exit %d)\n",
        host->problemList.hostCausedFailures, kExitHostCausedFailure);
    return kExitHostCausedFailure;
  }
  Print("Clean run: every reference, block and resource scope was given back\n");
  return kExitClean;
}

bool OpenInterface(Session* session, const Guid& classId, const Guid& iid, Instance** instance,
                   void** object) {
  const ClassForm* form = FindForm(session, classId);
  if (form == nullptr) return false;
  SetPhase(session, "the host (an instance of class " + FormatGuid(classId) + ")");
  BeforeCall(session);  // the class's create hook
  *instance =
      CreateInstance(&session->host, classId, form->size, form->createHook, form->destroyHook);
  if (*instance == nullptr) return false;
  InterfaceObject* created = nullptr;
  std::string call = std::string("DllGetInterface (the ") + InterfaceName(iid) + ")";
  SetPhase(session, call);
  uint32_t requestsBefore = session->host.allocator.requests;
  BeforeCall(session);
  ProblemList* problemList = &session->host.problemList;
  EnterCall(problemList, "DllGetInterface(%s, %s, %s)",
            AddressName(&session->host.allocator, InstanceHeader(*instance)).c_str(),
            FormatGuid(classId).c_str(), FormatGuid(iid).c_str());
  Status status =
      session->exports.getInterface(InstanceHeader(*instance), &classId, &iid, &created);
  LeaveCall(problemList, "DllGetInterface = 0x%08X, %s", status,
            AddressName(&session->host.allocator, created).c_str());
  Print("  %s returned 0x%08X\n", call.c_str(), status);
  if (status != STATUS_OK || created == nullptr) {
    if (status == STATUS_OK) {
      ReportProblem(&session->host.problemList, "%s returned 0 and no object", call.c_str());
    } else {
      JudgeFailure(session, call.c_str(), status, requestsBefore);
      if (created != nullptr) {
        ReportProblem(&session->host.problemList, "%s failed but handed out an object",
                      call.c_str());
      }
    }
    SetPhase(session, "the host");
    BeforeCall(session);  // the class's destroy hook
    DestroyInstance(*instance);
    return false;
  }
  JudgeFailure(session, call.c_str(), status, requestsBefore);
  *object = created;
  return true;
}

void CloseInterface(Session* session, Instance* instance, void* object, const Guid& iid) {
  SetPhase(session, "Release");
  BeforeCall(session);
  ProblemList* problemList = &session->host.problemList;
  EnterCall(problemList, "%s.Release", InterfaceName(iid));
  uint32_t remaining = MethodAt<ReleaseFn>(object, kSlotRelease)(object);
  LeaveCall(problemList, "Release = %u", remaining);
  if (remaining != 0) {
    ReportProblem(&session->host.problemList,
                  "the %s still counts %u reference(s) after the host released its only one",
                  InterfaceName(iid), remaining);
  }
  SetPhase(session, "the host");
  BeforeCall(session);  // the class's destroy hook
  DestroyInstance(instance);
}

Status InvokeTool(Session* session, void* object) {
  HostServices* host = &session->host;
  SetPhase(session, "Invoke");
  host->dialogRunner.lastResult = 0;
  BeforeCall(session);
  EnterCall(&host->problemList, "tool interface.Invoke");
  Status status = MethodAt<InvokeFn>(object, kToolInvoke)(object);
  LeaveCall(&host->problemList, "Invoke = 0x%08X", status);
  session->lastInvokeStatus = status;
  Print("  Invoke returned 0x%08X\n", status);
  if (status == STATUS_OK) return status;
  // After OK only the write can fail, with the platform's error or, when it
  // gives none, a generic failure.
  bool platformStatus = (status & 0xFFFF0000u) == 0x80070000u || status == ERR_FAIL;
  if (host->dialogRunner.lastResult == IDOK && platformStatus) {
    ReportHostCausedFailure(&host->problemList,
                            "The settings were not saved after OK: Invoke reports %s",
                            DescribeStatus(status).c_str());
  } else {
    ReportProblem(&host->problemList, "Invoke failed with 0x%08X", status);
  }
  return status;
}

bool RegisterAll(Session* session) {
  session->records.clear();
  session->forms.clear();
  if (!ReadClassInfo(session)) return false;
  ReadClassForms(session);
  RegisterTools(session);
  PrintEntries(session);
  return true;
}

void RunTools(Session* session) {
  for (const auto& entry : session->host.registry.entries) RunTool(session, *entry);
}

void RunRoad(Session* session) {
  if (RegisterAll(session)) RunTools(session);
}

const std::string* DisplayName(const RegistryEntry& entry) {
  const RegistryEntry::Value* name = FindValue(entry, "displayNameString", kValueAnsiText);
  return name != nullptr ? &name->text : nullptr;
}

Status AskCanUnloadNow(Session* session) {
  SetPhase(session, "the host");
  BeforeCall(session);
  EnterCall(&session->host.problemList, "DllCanUnloadNow");
  Status status = session->exports.canUnloadNow();
  LeaveCall(&session->host.problemList, "DllCanUnloadNow = 0x%08X", status);
  return status;
}

int OpenSession(const Options& options, Session* session) {
  const wchar_t* path = options.pluginPath.c_str();
  std::string pathText = Utf8FromWide(path);
  Print("Plug-in: %s\n", pathText.c_str());
  ProgressStep("loading %s", pathText.c_str());
  std::string reason;
  if (!CheckPluginFile(path, &reason)) {
    PrintError("standin_host: %s is not a 32-bit plug-in: %s\n", pathText.c_str(), reason.c_str());
    return kExitNotPlugin;
  }
  ProblemList loading = {0, 0};
  HMODULE plugin = LoadPluginCopy(path, session->settingsCopy, &loading, &reason);
  if (plugin == nullptr) {
    PrintError("standin_host: cannot load %s: %s\n", pathText.c_str(), reason.c_str());
    return kExitNotPlugin;
  }
  InitHostServices(&session->host, plugin, &options.script);
  session->host.problemList.problems += loading.problems;
  Print("  PE32 i386 DLL, loaded at %p\n", static_cast<void*>(plugin));
  session->plugin = plugin;
  if (!BindExports(plugin, &session->exports, &reason)) {
    PrintError("standin_host: %s is not a plug-in: %s\n", pathText.c_str(), reason.c_str());
    FreePluginCopy(plugin, session->settingsCopy, &loading);
    return kExitNotPlugin;
  }
  session->host.allocator.failAt = options.failAllocation;
  return kExitClean;
}
