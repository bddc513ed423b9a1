#include "standin_host/validator/check_module.h"

#include <string.h>

#include "host/plugin_interfaces.h"
#include "standin_host/hosting/plugin_copy.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/check_support.h"

namespace {

constexpr int kRoads = 20;

// The road's dialogs are cancelled as soon as they are shown: these checks
// are about the module, not the dialog.
DialogScript CancelWhenReady() { return DialogScript{{}, DialogEnding::kCancel, std::wstring()}; }

// With the first copy loaded; its own problem when the copy does not load.
bool CopyLoads(const std::wstring& path, ProblemList* problemList) {
  std::string failure;
  HMODULE module = LoadPluginCopy(path, 1, problemList, &failure);
  if (module == nullptr) {
    ReportProblem(problemList,
                  "expected a copy under another file name to load beside the first; loading "
                  "%s failed: %s",
                  Utf8FromWide(path.c_str()).c_str(), failure.c_str());
    return false;
  }
  FreePluginCopy(module, 1, problemList);
  return true;
}

// The classes as the host knows them: each version 1, with the class
// factory and its own interface (version 1), instances of 28 bytes, and a
// create and a destroy hook of its own.
struct ContractClass {
  const char* name;
  const Guid* classId;
  const Guid* interfaceId;
};
const ContractClass kClasses[] = {
    {"RegistrationClass", &CLSID_RegistrationClass, &IID_RegistrationInterface},
    {"SettingsToolClass", &CLSID_SettingsTool, &IID_ToolInterface},
};
constexpr uint32_t kInstanceSize = 28;
// Two records per class and the terminator, whose versions are not the
// host's to read.
constexpr uint32_t kClassInfoRecords = 5;
constexpr uint32_t kClassInfoBytes = kClassInfoRecords * sizeof(ClassInfoRecord);

ClassInfoRecord ExpectedRecord(uint32_t index) {
  if (index / 2 >= sizeof kClasses / sizeof kClasses[0]) return {GUID_NULL, 0, GUID_NULL, 0};
  const ContractClass& owner = kClasses[index / 2];
  return {*owner.classId, 1, index % 2 == 0 ? IID_IClassFactory : *owner.interfaceId, 1};
}

void CompareRecord(uint32_t index, const ClassInfoRecord& got, ProblemList* problemList) {
  ClassInfoRecord want = ExpectedRecord(index);
  bool terminator = index == kClassInfoRecords - 1;
  const struct {
    const char* field;
    bool same;
    std::string expected;
    std::string found;
  } fields[] = {
      {"class id", SameGuid(got.classId, want.classId), FormatGuid(want.classId),
       FormatGuid(got.classId)},
      {"class version", terminator || got.classVersion == want.classVersion,
       std::to_string(want.classVersion), std::to_string(got.classVersion)},
      {"interface id", SameGuid(got.interfaceId, want.interfaceId), FormatGuid(want.interfaceId),
       FormatGuid(got.interfaceId)},
      {"interface version", terminator || got.interfaceVersion == want.interfaceVersion,
       std::to_string(want.interfaceVersion), std::to_string(got.interfaceVersion)},
  };
  for (const auto& field : fields) {
    if (field.same) continue;
    ReportProblem(problemList, "expected class-info record %u's %s to be %s; it is %s", index,
                  field.field, field.expected.c_str(), field.found.c_str());
  }
}

// The table through DllGetClassInfo with the host's allocator, record by
// record against the contract; the block is the host's to free.
void JudgeClassInfo(const PluginExports& exports, HostServices* host, ProblemList* problemList) {
  host->allocator.phase = "DllGetClassInfo (the class-info table)";
  ClassInfoRecord* table = nullptr;
  Status status = exports.getClassInfo(AllocatorInterface(host), &table);
  uint32_t blockSize = status == STATUS_OK ? BlockSize(&host->allocator, table) : 0;
  if (status != STATUS_OK || blockSize == 0) {
    ReportProblem(problemList,
                  "expected DllGetClassInfo to answer 0 with a block from the host's allocator; "
                  "it answered 0x%08X with %p",
                  status, static_cast<void*>(table));
    return;
  }
  if (blockSize != kClassInfoBytes) {
    ReportProblem(problemList,
                  "expected the class-info table in a block of %u bytes; it is %u bytes",
                  kClassInfoBytes, blockSize);
  }
  for (uint32_t i = 0; i < kClassInfoRecords && (i + 1) * sizeof *table <= blockSize; ++i) {
    CompareRecord(i, table[i], problemList);
  }
  FreeBlock(&host->allocator, table);
}

// Each class's instance size and hooks through DllGetClassForm; no two
// classes may share a hook.
void JudgeClassForms(const PluginExports& exports, ProblemList* problemList) {
  constexpr size_t kCount = sizeof kClasses / sizeof kClasses[0];
  const void* hooks[2][kCount] = {};  // create hooks, then destroy hooks
  for (size_t i = 0; i < kCount; ++i) {
    const ContractClass& entry = kClasses[i];
    uint32_t size = 0;
    InstanceCreateHook create = nullptr;
    InstanceDestroyHook destroy = nullptr;
    Status status = exports.getClassForm(entry.classId, &size, &create, &destroy);
    if (status != STATUS_OK) {
      ReportProblem(problemList, "expected DllGetClassForm(%s) to answer 0; it answered 0x%08X",
                    entry.name, status);
      continue;
    }
    if (size != kInstanceSize) {
      ReportProblem(problemList, "expected %s's instance size to be %u; it is %u", entry.name,
                    kInstanceSize, size);
    }
    hooks[0][i] = reinterpret_cast<const void*>(create);
    hooks[1][i] = reinterpret_cast<const void*>(destroy);
    Print("Class %s: instance size %u, create hook %p, destroy hook %p\n", entry.name, size,
          hooks[0][i], hooks[1][i]);
  }
  const char* kinds[2] = {"create", "destroy"};
  for (int kind = 0; kind < 2; ++kind) {
    for (size_t i = 0; i < kCount; ++i) {
      if (hooks[kind][i] == nullptr) continue;
      for (size_t j = i + 1; j < kCount; ++j) {
        if (hooks[kind][i] != hooks[kind][j]) continue;
        ReportProblem(problemList, "expected each class its own %s hook; %s and %s share %p",
                      kinds[kind], kClasses[i].name, kClasses[j].name, hooks[kind][i]);
      }
    }
  }
}

}  // namespace

bool CheckFile(const Options& options) {
  ProblemList problemList = {0, 0};
  const wchar_t* path = options.pluginPath.c_str();
  std::string reason;
  if (!CheckPluginFile(path, &reason)) {
    ReportProblem(&problemList, "expected a 32-bit Windows DLL (PE32, i386); %s", reason.c_str());
    return false;
  }
  HMODULE module = LoadPluginCopy(path, 0, &problemList, &reason);
  if (module == nullptr) {
    ReportProblem(&problemList, "expected the DLL to load; %s", reason.c_str());
    return false;
  }
  PluginExports exports;
  if (!BindExports(module, &exports, &reason)) {
    ReportProblem(&problemList, "expected the five exports by name and by ordinal 1 to 5; %s",
                  reason.c_str());
  } else {
    DialogScript noDialogs = CancelWhenReady();
    HostServices host;
    InitHostServices(&host, module, &noDialogs);
    JudgeClassForms(exports, &problemList);
    JudgeClassInfo(exports, &host, &problemList);
    Balanced(&host);  // what it finds goes to the host's problem list
    problemList.problems += host.problemList.problems;
  }
  FreePluginCopy(module, 0, &problemList);
  return problemList.problems == 0;
}

bool CheckRepeatedLoad(const Options& options) {
  ProblemList problemList = {0, 0};
  DialogScript script = CancelWhenReady();
  for (int road = 1; road <= kRoads && problemList.problems == 0; ++road) {
    // The first road is reported in full; the rest only if they go wrong.
    SetReportQuiet(road > 1);
    Session session = {};
    if (!BeginSession(options, &script, &session, &problemList)) break;
    RunRoad(&session);
    if (EndSession(&session, &problemList) != kExitClean) {
      ReportProblem(&problemList, "expected %d clean roads in one process; road %d was not", kRoads,
                    road);
    }
  }
  SetReportQuiet(false);
  if (problemList.problems == 0) Print("%d roads loaded, run and unloaded cleanly\n", kRoads);
  return problemList.problems == 0;
}

bool CheckSecondCopy(const Options& options) {
  ProblemList problemList = {0, 0};
  Options copy = options;
  copy.pluginPath = PluginCopyPath(options.pluginPath, 1);
  if (!CopyFileW(options.pluginPath.c_str(), copy.pluginPath.c_str(), FALSE)) {
    ReportProblem(&problemList, "the validator could not copy the plug-in to %s (error %lu)",
                  Utf8FromWide(copy.pluginPath.c_str()).c_str(), GetLastError());
    return false;
  }
  DialogScript script = CancelWhenReady();
  Session first = {};
  Session second = {};
  if (BeginSession(options, &script, &first, &problemList)) {
    if (CopyLoads(copy.pluginPath, &problemList) &&
        BeginSession(copy, &script, &second, &problemList)) {
      if (first.plugin == second.plugin) {
        ReportProblem(&problemList, "expected the copy to load as a module of its own; it did not");
      }
      RunRoad(&first);
      RunRoad(&second);
      EndSession(&second, &problemList);
    }
    EndSession(&first, &problemList);
  }
  DeleteFileW(copy.pluginPath.c_str());
  return problemList.problems == 0;
}
